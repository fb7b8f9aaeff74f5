#include "window/login_window.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "window/qt_ui_services.h"

namespace vantory {

LoginWindow::LoginWindow(ProgramState& state, UiServices& ui, QWidget* parent)
    : QDialog(parent),
      state_(state),
      ui_(ui),
      lblLabels_(new QLabel(QStringLiteral("&Password:"), this)),
      txtPassword_(new QLineEdit(this)),
      cmdOK_(new QPushButton(QStringLiteral("&OK"), this)),
      cmdCancel_(new QPushButton(QStringLiteral("&Cancel"), this)),
      cmdHelp_(new QPushButton(QStringLiteral("&Help"), this)) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QString::fromLatin1(kLoginCaption));
    setWindowIcon(ProgramIcon());
    lblLabels_->setObjectName(QStringLiteral("lblLabels"));
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    cmdHelp_->setObjectName(QStringLiteral("cmdHelp"));

    lblLabels_->setBuddy(txtPassword_);
    txtPassword_->setEchoMode(QLineEdit::Password);
    txtPassword_->setMinimumWidth(200);
    cmdOK_->setDefault(true);
    cmdOK_->setAutoDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(lblLabels_);
    top->addWidget(txtPassword_, 1);
    top->addWidget(cmdHelp_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(txtPassword_, cmdOK_);
    setTabOrder(cmdOK_, cmdCancel_);
    setTabOrder(cmdCancel_, cmdHelp_);
    txtPassword_->setFocus();

    connect(cmdOK_, &QPushButton::clicked, this, &LoginWindow::cmdOK_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &LoginWindow::reject);
    connect(cmdHelp_, &QPushButton::clicked, this, &LoginWindow::cmdHelp_Click);
}

StartOutcome LoginWindow::load() {
    const StartOutcome outcome = PrepareStart(state_, ui_);
    if (outcome == StartOutcome::kFactorySettings) {
        setWindowTitle(QString::fromLatin1(kFactoryCaption));
    }
    return outcome;
}

void LoginWindow::cmdOK_Click() {
    if (PasswordMatches(state_, fromQString(txtPassword_->text()))) {
        hide();
        emit loggedIn();
        done(Accepted);
        return;
    }
    ShowInvalidPassword(ui_);
    txtPassword_->setFocus();
    txtPassword_->selectAll();
}

void LoginWindow::cmdHelp_Click() {
    ShowPasswordHelp(ui_);
}

void LoginWindow::reject() {
    QDialog::reject();
    emit cancelled();
}

}  // namespace vantory
