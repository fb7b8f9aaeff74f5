#pragma once

#include <QDialog>

#include "commands/startup.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace vantory {

// The password window. load() runs the start-up; a right password emits loggedIn() and
// closes the window, Cancel (or Esc, or the title bar's close) emits cancelled().
class LoginWindow : public QDialog {
    Q_OBJECT

  public:
    LoginWindow(ProgramState& state, UiServices& ui, QWidget* parent = nullptr);

    // The load step; false when the program is to end: another instance runs (nothing is
    // said), or the settings file or the storage folder cannot be used (the user has been
    // told).
    bool load();
    // After load(): whether another copy runs with these settings, to take the files named.
    bool anotherCopyRuns() const { return outcome_ == StartOutcome::kAnotherInstance; }

  signals:
    void loggedIn();
    void cancelled();

  private:
    void cmdOK_Click();
    void cmdHelp_Click();
    void reject() override;

    ProgramState& state_;
    UiServices& ui_;
    QLabel* lblLabels_;
    QLineEdit* txtPassword_;
    QPushButton* cmdOK_;
    QPushButton* cmdCancel_;
    QPushButton* cmdHelp_;
    StartOutcome outcome_ = StartOutcome::kReady;
};

}  // namespace vantory
