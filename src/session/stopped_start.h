#pragma once

#include <functional>
#include <string>
#include <vector>

#include "commands/startup.h"

namespace vantory {

// Carries `files` to the copy already running; false, with `error` in words, when it did not
// take them.
using HandOverFunction =
    std::function<bool(const std::vector<std::string>& files, std::string& error)>;

// Ends a start that its load step stopped and returns the exit status. With another copy
// running, the files named on the command line are handed to it, and a hand-over that fails
// is said (on stderr and in a message box). A start that could not use its settings or its
// storage folder has said why; the files then go to no one.
int FinishStoppedStart(StartOutcome outcome, const std::vector<std::string>& files, UiServices& ui,
                       const HandOverFunction& handOver);

}  // namespace vantory
