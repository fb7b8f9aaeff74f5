#include "window/busy_window.h"

#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace vantory {

namespace {

// Client area: 4680 x 1440 twips (312 x 96 px), made room for the progress bar beneath
// the progress line and for a wider progress line in bold 12 point.
constexpr int kWidth = 360;
constexpr int kHeight = 124;
constexpr int kMargin = 8;
constexpr int kClosingNoteHeight = 22;  // added beneath the bar when the note shows

}  // namespace

BusyWindow::BusyWindow(const ProgramState& state)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      state_(state),
      lblBusy_(new QLabel(QString::fromLatin1(kNotice), this)),
      lblStatus_(new QLabel(this)),
      lblClosing_(new QLabel(QString::fromLatin1(kClosingNote), this)),
      progressBar_(new QProgressBar(this)),
      Timer1_(new QTimer(this)) {
    setObjectName(QStringLiteral("frmBusy"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromLatin1(kCaption));
    setFixedSize(kWidth, kHeight);

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

    lblClosing_->setObjectName(QStringLiteral("lblClosing"));
    lblClosing_->setGeometry(kMargin, kHeight - 4, kWidth - 2 * kMargin, kClosingNoteHeight);
    lblClosing_->hide();

    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setTextVisible(false);
    progressBar_->setGeometry(kMargin, 94, kWidth - 2 * kMargin, 18);
    progressBar_->hide();

    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(kTickMilliseconds);
    connect(Timer1_, &QTimer::timeout, this, &BusyWindow::Timer1_Timer);
    Timer1_->start();
}

void BusyWindow::Timer1_Timer() {
    // The dots run one, two, three, one, ...; any other caption is left alone.
    const QString caption = windowTitle();
    if (caption == QLatin1String("Program is busy...")) {
        setWindowTitle(QStringLiteral("Program is busy."));
    } else if (caption == QLatin1String("Program is busy..")) {
        setWindowTitle(QStringLiteral("Program is busy..."));
    } else if (caption == QLatin1String("Program is busy.")) {
        setWindowTitle(QStringLiteral("Program is busy.."));
    }

    showProgress();

    if (!state_.bolBusy) {
        close();
    }
}

void BusyWindow::showClosingNote() {
    if (lblClosing_->isHidden()) {
        setFixedSize(kWidth, kHeight + kClosingNoteHeight);
        lblClosing_->show();
    }
}

void BusyWindow::showProgress() {
    // Items completed is the 1-based item in hand less one, in 16-bit arithmetic: at the
    // smallest counter the subtraction has no result and the line stays as it was.
    if (state_.intProgress == std::numeric_limits<int16_t>::min()) {
        return;
    }
    const int completed = state_.intProgress - 1;
    const int total = state_.intProgressTotal;
    lblStatus_->setText(QString::number(completed) + QStringLiteral(" files completed out of ") +
                        QString::number(total));
    if (total > 0) {
        progressBar_->setRange(0, total);
        progressBar_->setValue(std::clamp(completed, 0, total));
        progressBar_->show();
    } else {
        progressBar_->hide();
    }
}

}  // namespace vantory
