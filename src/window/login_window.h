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

    // The load step. The program is to end when another instance runs (nothing is said), or
    // the settings or the storage folder cannot be used (the user has been told).
    StartOutcome load();

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
};

}  // namespace vantory
