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
constexpr int kBarSteps = 1000;         // of a single file's bytes

// "12 MiB of 40 MiB": both counts in the first unit in which the size is below 10240, whole
// and never rounded up.
QString bytesText(uint64_t done, uint64_t size) {
    static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    size_t unit = 0;
    uint64_t scale = 1;
    while (unit + 1 < std::size(units) && size / scale >= 10240) {
        scale *= 1024;
        ++unit;
    }
    const QString name = QLatin1Char(' ') + QString::fromLatin1(units[unit]);
    return QString::number(done / scale) + name + QStringLiteral(" of ") +
           QString::number(size / scale) + name;
}

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
      Timer1_(new QTimer(this)) {
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
    showBytes();

    if (!state_.bolBusy) {
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

void BusyWindow::showBytes() {
    const FileBytes& bytes = state_.fileBytes;
    if (lblBytes_->isHidden()) {
        if (bytes.size < kLargeFile) {
            return;
        }
        lblBytes_->show();
        arrange();
    }
    lblBytes_->setText(bytesText(std::min(bytes.done, bytes.size), bytes.size));
    if (state_.intProgressTotal == 1 && bytes.size > 0) {
        progressBar_->setRange(0, kBarSteps);
        progressBar_->setValue(
            static_cast<int>(std::min(bytes.done, bytes.size) * kBarSteps / bytes.size));
        progressBar_->show();
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
