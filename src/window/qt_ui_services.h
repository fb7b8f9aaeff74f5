#pragma once

#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "commands/ui_services.h"
#include "window/instance_channel.h"

namespace vantory {

// UiServices on Qt Widgets.
class QtUiServices : public UiServices {
  public:
    // Dialogs are centred over the program's active window.
    void messageBox(const std::string& text, int style, const std::string& title = {}) override;
    std::optional<std::string> inputBox(const std::string& prompt,
                                        const std::string& title) override;
    std::vector<std::string> openFiles(const std::string& title, bool multiple) override;
    void yield() override;
    void setWaitCursor(bool on) override;
    // False when Qt finds no way to open a file (on Linux: no xdg-open or desktop portal);
    // an opener that starts but finds no application is not seen.
    bool openWithDefaultApplication(const std::string& path) override;
    // The copy that takes the lock also opens the channel through which later starts hand it
    // their files, at once, so that none is turned away while this one is still starting.
    bool previousInstanceRunning(const std::string& settingsFolder) override;

    // The channel, once this copy holds the lock; null before, or when it could not be made.
    InstanceServer* instanceServer() const { return instanceServer_.get(); }

  private:
    bool waitCursorShown_ = false;
    std::unique_ptr<InstanceServer> instanceServer_;
};

// The program's icon, which every window of it carries.
QIcon ProgramIcon();

// Texts and paths cross to Qt as bytes: paths in the file-name encoding, texts as UTF-8
// where they are valid and Latin-1 where not, so nothing is ever dropped.
QString toQString(const std::string& bytes);
std::string fromQString(const QString& text);
QString pathToQString(const std::string& path);
std::string pathFromQString(const QString& path);

}  // namespace vantory
