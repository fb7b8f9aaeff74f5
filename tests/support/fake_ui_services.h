#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "main/command_context.h"
#include "ui/ui_services.h"

namespace vantory::test {

// UiServices for tests: dialogs answer from queues set up ahead of time, and every message
// box is recorded instead of shown, so nothing blocks.
class FakeUiServices : public UiServices {
  public:
    struct Message {
        std::string text;
        int style;
        std::string title;
    };

    std::vector<Message> messages;
    std::deque<std::string> inputAnswers;              // next inputBox answers; "" when empty
    std::vector<std::string> inputPrompts;             // prompts asked, in order
    std::deque<std::vector<std::string>> fileAnswers;  // next openFiles answers
    std::vector<std::string> openedWithApplication;
    bool anotherInstance = false;
    int yields = 0;
    int waitCursorDepth = 0;
    // Runs when a message box would be shown, e.g. to check the window's state at that point.
    std::function<void(const Message&)> onMessage;

    void messageBox(const std::string& text, int style, const std::string& title = {}) override {
        messages.push_back({text, style, title.empty() ? kApplicationTitle : title});
        if (onMessage) {
            onMessage(messages.back());
        }
    }
    std::string inputBox(const std::string& prompt, const std::string& title) override {
        inputPrompts.push_back(prompt + " / " + title);
        if (inputAnswers.empty()) {
            return {};
        }
        std::string answer = inputAnswers.front();
        inputAnswers.pop_front();
        return answer;
    }
    std::vector<std::string> openFiles(const std::string&, bool) override {
        if (fileAnswers.empty()) {
            return {};
        }
        auto answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
    void yield() override { ++yields; }
    void setWaitCursor(bool on) override { waitCursorDepth += on ? 1 : -1; }
    void openWithDefaultApplication(const std::string& path) override {
        openedWithApplication.push_back(path);
    }
    bool previousInstanceRunning(const std::string&) override { return anotherInstance; }
};

// The busy state of a command without a window: records each call.
class FakeBusy : public BusyState {
  public:
    void OpRunning(bool running) override { calls.push_back(running); }
    std::vector<bool> calls;
};

}  // namespace vantory::test
