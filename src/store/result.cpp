#include "store/result.h"

namespace vantory {

std::string Result::message() const {
    switch (reason) {
        case Reason::kNone:
            return status.message();
        case Reason::kDamagedSettings:
            return "the settings file is damaged";
        case Reason::kSettingsTooLarge:
            return "the settings file is larger than any that Vantory writes";
        case Reason::kListFull:
            return "the list of hidden files is full";
        case Reason::kUnfinishedWork:
            return "an earlier operation is not finished yet";
        case Reason::kUnreadableRecord:
            return "the record of an interrupted operation cannot be read";
        case Reason::kFolderMissing:
            return "a folder cannot be found; is the storage folder connected?";
    }
    return status.message();
}

}  // namespace vantory
