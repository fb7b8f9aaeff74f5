#include "store/password_change_record.h"

#include <filesystem>
#include <set>
#include <utility>

#include "cipher/cipher.h"
#include "platform/fs_path.h"
#include "store/settings_file.h"

namespace vantory {

namespace {

using Rename = PasswordChangeRecord::Rename;
using ChangeRecord = PasswordChangeRecord;

constexpr std::string_view kHeader = "vantory password change 1";
// New files are named after the stored file they replace: "100.txt.vantory-rekey-XXXXXX".
constexpr std::string_view kInfix = ".vantory-rekey-";

// The part of a stored name that a new file's name starts with: a long one is cut, as an
// AtomicFile's temporary name is, so that the new name stays within a file name's length
// whatever the extension.
std::string rekeyStem(const std::string& storedName) {
    return storedName.substr(0, platform::kTemporaryNameRoom);
}
constexpr char kSeparator = '\0';

// A re-sealed file is known by its first bytes: sealed under another password, the same
// content starts differently, except where it is too short to differ at all.
constexpr size_t kHeadSize = 64;

std::optional<std::string> fileHead(const std::string& path, size_t size) {
    platform::InputFile file;
    if (!file.open(path).ok()) {
        return std::nullopt;
    }
    std::string head(size, '\0');
    size_t got = 0;
    if (!file.read(head.data(), size, got).ok()) {
        return std::nullopt;
    }
    head.resize(got);
    return head;
}

}  // namespace

std::string PasswordChangeRecordPath(const ProgramState& state) {
    return state.strSystemDir + platform::kSeparator + "regInfo.rekey";
}

std::string EncodePasswordChangeRecord(const ChangeRecord& record) {
    std::string text;
    const auto add = [&text](std::string_view line) {
        text += Seal(line, SettingsKey);
        text += "\r\n";
    };
    add(kHeader);
    if (!record.committed) {
        add("P" + record.storageDir);
        for (const std::string& name : record.names) {
            add("N" + name);
        }
    } else {
        add("C" + record.password);
        if (record.oldPassword) {
            add("O" + *record.oldPassword);
        }
        for (const Rename& rename : record.renames) {
            std::string line = "R" + rename.from + kSeparator + rename.to;
            if (rename.head) {
                line += kSeparator + *rename.head;
            }
            add(line);
        }
    }
    return text;
}

std::optional<ChangeRecord> DecodePasswordChangeRecord(std::string_view content) {
    const std::vector<std::string> lines = SplitLines(content);
    if (lines.size() < 2 || Unseal(lines[0], SettingsKey) != kHeader) {
        return std::nullopt;
    }
    ChangeRecord record;
    const std::string phase = Unseal(lines[1], SettingsKey);
    if (phase.empty() || (phase[0] != 'P' && phase[0] != 'C')) {
        return std::nullopt;
    }
    record.committed = phase[0] == 'C';
    (record.committed ? record.password : record.storageDir) = phase.substr(1);
    for (size_t i = 2; i < lines.size(); ++i) {
        const std::string line = Unseal(lines[i], SettingsKey);
        if (!record.committed && !line.empty() && line[0] == 'N') {
            record.names.push_back(line.substr(1));
        } else if (record.committed && !line.empty() && line[0] == 'O' && !record.oldPassword) {
            record.oldPassword = line.substr(1);
        } else if (record.committed && !line.empty() && line[0] == 'R') {
            const size_t separator = line.find(kSeparator, 1);
            if (separator == std::string::npos) {
                return std::nullopt;
            }
            Rename rename{line.substr(1, separator - 1), line.substr(separator + 1), {}};
            if (const size_t head = rename.to.find(kSeparator); head != std::string::npos) {
                rename.head = rename.to.substr(head + 1);
                rename.to.resize(head);
            }
            record.renames.push_back(std::move(rename));
        } else {
            return std::nullopt;
        }
    }
    return record;
}

Status WritePasswordChangeRecord(const ProgramState& state, const ChangeRecord& record) {
    return platform::writeFileAtomically(PasswordChangeRecordPath(state),
                                         EncodePasswordChangeRecord(record));
}

void RemovePasswordChangeRecord(const ProgramState& state) {
    (void)platform::removeFile(PasswordChangeRecordPath(state));
    platform::syncFolder(state.strSystemDir);
}

std::optional<PasswordChangeRecord> ReadPasswordChangeRecord(const ProgramState& state) {
    const auto content = platform::readWholeFile(PasswordChangeRecordPath(state));
    return content ? DecodePasswordChangeRecord(*content) : std::nullopt;
}

std::optional<std::string> CreateRekeyedFile(const std::string& stored, Status& error) {
    const std::string name = platform::baseName(stored);
    return platform::createUniqueFile(
        stored.substr(0, stored.size() - name.size()) + rekeyStem(name) + std::string(kInfix),
        &error);
}

std::optional<std::string> RekeyedHead(const std::string& path) {
    return fileHead(path, kHeadSize);
}

// Whether the stored file `to` is the re-sealed file once renamed over it.
bool IsRekeyed(const Rename& rename) {
    if (!rename.head) {
        return platform::isRegularFile(rename.to);
    }
    return fileHead(rename.to, rename.head->size()) == rename.head;
}

// Removes from `folder` every new file, finished or half written, that a change of the
// stored files `names` may have left: "<name>.vantory-rekey-..." and the hidden temporary
// file of one being written, ".<name>.vantory-rekey-...".
void RemoveRekeyLeftovers(const std::string& folder, const std::vector<std::string>& names) {
    std::set<std::string> stems;
    for (const std::string& name : names) {
        stems.insert(rekeyStem(name));
    }
    std::vector<std::string> doomed;
    std::error_code error;
    for (std::filesystem::directory_iterator it(platform::fsPath(folder), error), end;
         !error && it != end; it.increment(error)) {
        std::string name = platform::pathString(it->path().filename());
        if (!name.empty() && name[0] == '.') {
            name.erase(0, 1);
        }
        const size_t infix = name.rfind(kInfix);
        // A regular file, never a link (which would also end the scan on an error).
        const std::string path = platform::pathString(it->path());
        if (infix != std::string::npos && stems.count(name.substr(0, infix)) > 0 &&
            platform::isRegularFile(path)) {
            doomed.push_back(path);
        }
    }
    for (const std::string& path : doomed) {
        (void)platform::removeFile(path);
    }
    platform::syncFolder(folder);
}

}  // namespace vantory
