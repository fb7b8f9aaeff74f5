#pragma once

#include <cstdio>

#include "commands/ui_services.h"

namespace vantory {

// UiServices for programs that run without a person: messages go to stderr, questions get
// no answer (as on Cancel), nothing waits.
class SilentUiServices : public UiServices {
  public:
    void messageBox(const std::string& text, int, const std::string&) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    std::optional<std::string> inputBox(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::vector<std::string> openFiles(const std::string&, bool) override { return {}; }
    void yield() override {}
    void setWaitCursor(bool) override {}
    bool openWithDefaultApplication(const std::string&) override { return false; }
    bool previousInstanceRunning(const std::string&) override { return false; }
};

}  // namespace vantory
