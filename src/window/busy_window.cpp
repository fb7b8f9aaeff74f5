#include "window/busy_window.h"

#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <limits>

#include "window/qt_ui_services.h"

namespace vantory {

namespace {

// Client area: 4680 x 1440 twips (312 x 96 px), made room for the progress bar beneath
// the progress line and for a wider progress line in bold 12 point.
constexpr int kWidth = 360;
constexpr int kMargin = 8;
constexpr int kBarTop = 94;  // without the line of bytes
constexpr int kBarHeight = 18;
constexpr int kBottomMargin = 12;
constexpr int kBytesHeight = 20;        // added above the bar when the line of bytes shows
constexpr int kClosingNoteHeight = 22;  // added beneath the bar when the note shows

}  // namespace

BusyWindow::BusyWindow(const ProgramState& state)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      state_(state),
      lblBusy_(new QLabel(QString::fromLatin1(kNotice), this)),
      lblStatus_(new QLabel(this)),
      lblBytes_(new QLabel(this)),
      lblClosing_(new QLabel(QString::fromLatin1(kClosingNote), this)),
      progressBar_(new QProgressBar(this)),
      Timer1_([this] { Timer1_Timer(); }, this, "Timer1"),
      progress_(state, Timer1_) {
    setObjectName(QStringLiteral("frmBusy"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(ProgramIcon());

    lblBusy_->setObjectName(QStringLiteral("lblBusy"));
    lblBusy_->setWordWrap(true);
    lblBusy_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblBusy_->setGeometry(kMargin, kMargin, kWidth - 2 * kMargin, 52);

    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    QFont bold = lblStatus_->font();
    bold.setPointSize(12);
    bold.setBold(true);
    lblStatus_->setFont(bold);
    lblStatus_->setGeometry(kMargin, 62, kWidth - 2 * kMargin, 26);

    lblBytes_->setObjectName(QStringLiteral("lblBytes"));
    lblBytes_->hide();

    lblClosing_->setObjectName(QStringLiteral("lblClosing"));
    lblClosing_->hide();

    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setTextVisible(false);
    progressBar_->hide();
    arrange();
}

void BusyWindow::Timer1_Timer() {
    setWindowTitle(QString::fromStdString(NextBusyCaption(windowTitle().toStdString())));
    const BusyProgress::View view = progress_.tick();
    if (view.status) {
        lblStatus_->setText(QString::fromStdString(*view.status));
    }
    if (view.bytes) {
        if (lblBytes_->isHidden()) {
            lblBytes_->show();
            arrange();
        }
        lblBytes_->setText(QString::fromStdString(*view.bytes));
    }
    if (view.bar && view.bar->shown) {
        progressBar_->setRange(0, view.bar->maximum);
        progressBar_->setValue(view.bar->value);
        progressBar_->show();
    } else if (view.bar) {
        progressBar_->hide();
    }
    if (view.close) {
        close();
    }
}

void BusyWindow::showClosingNote() {
    if (lblClosing_->isHidden()) {
        lblClosing_->show();
        arrange();
    }
}

void BusyWindow::arrange() {
    const int width = kWidth - 2 * kMargin;
    int y = kBarTop;
    if (!lblBytes_->isHidden()) {
        lblBytes_->setGeometry(kMargin, y - 4, width, kBytesHeight);
        y += kBytesHeight;
    }
    progressBar_->setGeometry(kMargin, y, width, kBarHeight);
    y += kBarHeight + kBottomMargin;
    if (!lblClosing_->isHidden()) {
        lblClosing_->setGeometry(kMargin, y - 4, width, kClosingNoteHeight);
        y += kClosingNoteHeight;
    }
    setFixedSize(kWidth, y);
}

}  // namespace vantory
