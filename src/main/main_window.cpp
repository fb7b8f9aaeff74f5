#include "main/main_window.h"

namespace vantory {

MainWindow::MainWindow(ProgramState& state, UiServices& ui, QWidget* parent)
    : QMainWindow(parent), state_(state), ui_(ui) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("%1 v%2.%3")
                       .arg(QString::fromLatin1(kProductName))
                       .arg(kVersionMajor)
                       .arg(kVersionMinor));
    resize(588, 322);
}

}  // namespace vantory
