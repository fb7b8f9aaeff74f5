#include "session/stopped_start.h"

#include <cstdio>

namespace vantory {

int FinishStoppedStart(StartOutcome outcome, const std::vector<std::string>& files, UiServices& ui,
                       const HandOverFunction& handOver) {
    if (outcome != StartOutcome::kAnotherInstance) {
        if (!files.empty()) {
            std::fprintf(stderr,
                         outcome == StartOutcome::kStorageInUse
                             ? "vantory: the storage folder is in use, so no file was hidden\n"
                             : "vantory: the settings cannot be used, so no file was hidden\n");
        }
        return 1;
    }
    if (files.empty()) {
        return 0;
    }
    std::string problem;
    if (handOver(files, problem)) {
        return 0;
    }
    std::fprintf(stderr, "vantory: %s\n", problem.c_str());
    ui.messageBox(problem, UiServices::kExclamation, "Hide with Vantory");
    return 1;
}

}  // namespace vantory
