#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/ui_services.h"

namespace vantory {

// UiServices on Qt Widgets.
class QtUiServices : public UiServices {
  public:
    // Dialogs are centred over the program's active window.
    void messageBox(const std::string& text, int style, const std::string& title = {}) override;
    std::string inputBox(const std::string& prompt, const std::string& title) override;
    std::vector<std::string> openFiles(const std::string& title, bool multiple) override;
    void yield() override;
    void setWaitCursor(bool on) override;
    void openWithDefaultApplication(const std::string& path) override;
    bool previousInstanceRunning(const std::string& settingsFolder) override;

  private:
    bool waitCursorShown_ = false;
};

// Texts and paths cross to Qt as bytes: paths in the file-name encoding, texts as UTF-8
// where they are valid and Latin-1 where not, so nothing is ever dropped.
QString toQString(const std::string& bytes);
std::string fromQString(const QString& text);
QString pathToQString(const std::string& path);
std::string pathFromQString(const QString& path);

}  // namespace vantory
