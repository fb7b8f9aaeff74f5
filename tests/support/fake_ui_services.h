#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "commands/ui_services.h"

namespace vantory::test {

// UiServices whose dialogs answer from queues filled ahead of time and whose message boxes
// are recorded, so nothing blocks.
class FakeUiServices : public UiServices {
  public:
    struct Message {
        std::string text;
        int style;
        std::string title;
    };

    std::vector<Message> messages;
    std::deque<std::optional<std::string>> inputAnswers;  // next inputBox answers; Cancel after
    std::vector<std::string> inputPrompts;                // "prompt / title", in order
    std::deque<std::vector<std::string>> fileAnswers;     // next openFiles answers
    std::vector<std::string> openedWithApplication;
    bool applicationOpens = true;  // what openWithDefaultApplication answers
    bool anotherInstance = false;
    int yields = 0;
    int waitCursorDepth = 0;
    std::function<void(const Message&)> onMessage;  // runs as each message box would show

    void messageBox(const std::string& text, int style, const std::string& title = {}) override {
        messages.push_back({text, style, title.empty() ? kApplicationTitle : title});
        if (onMessage) {
            onMessage(messages.back());
        }
    }
    std::optional<std::string> inputBox(const std::string& prompt,
                                        const std::string& title) override {
        inputPrompts.push_back(prompt + " / " + title);
        return next(inputAnswers);
    }
    std::vector<std::string> openFiles(const std::string&, bool) override {
        return next(fileAnswers);
    }
    void yield() override { ++yields; }
    void setWaitCursor(bool on) override { waitCursorDepth += on ? 1 : -1; }
    bool openWithDefaultApplication(const std::string& path) override {
        openedWithApplication.push_back(path);
        return applicationOpens;
    }
    bool previousInstanceRunning(const std::string&) override { return anotherInstance; }

  private:
    template <typename T>
    static T next(std::deque<T>& answers) {
        if (answers.empty()) {
            return {};
        }
        T answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }
};

// The busy state of a command without a window: records each call.
class FakeBusy : public BusyState {
  public:
    void OpRunning(bool running) override { calls.push_back(running); }
    std::vector<bool> calls;
};

}  // namespace vantory::test
