#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "busy/busy_window.h"

namespace vantory {
namespace {

class BusyWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state.bolBusy = true;
        window = new BusyWindow(state);
        window->show();
    }
    void TearDown() override { delete window.data(); }

    QString line() const { return window->findChild<QLabel*>("lblStatus")->text(); }
    QProgressBar* bar() const { return window->findChild<QProgressBar*>("progressBar"); }
    void tick(int16_t progress, int16_t total) {
        state.intProgress = progress;
        state.intProgressTotal = total;
        window->Timer1_Timer();
    }
    // Runs the deletions the window asked for when it closed itself.
    static void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ProgramState state;
    QPointer<BusyWindow> window;
};

TEST_F(BusyWindowTest, startsWithItsNoticeCaptionAndAnEmptyLine) {
    EXPECT_EQ(window->objectName(), "frmBusy");
    EXPECT_EQ(window->windowTitle(), "Program is busy...");
    EXPECT_EQ(window->findChild<QLabel*>("lblBusy")->text(),
              "Be patient.  The file operations can be quite lengthy and memory-intensive.  "
              "Large files can take many minutes to complete.");
    QLabel* status = window->findChild<QLabel*>("lblStatus");
    EXPECT_TRUE(status->text().isEmpty());
    EXPECT_TRUE(status->font().bold());
    EXPECT_EQ(status->font().pointSize(), 12);
    QTimer* timer = window->findChild<QTimer*>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 500);
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(bar()->isVisible());

    // Its own window, fixed in size, without minimise or maximise, kept off the task bar.
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(BusyWindowTest, noticeAndProgressLineFitTheirLabels) {
    window->showClosingNote();
    for (const char* name : {"lblBusy", "lblStatus", "lblClosing"}) {
        QLabel* label = window->findChild<QLabel*>(name);
        label->setText(name == std::string("lblStatus")
                           ? QStringLiteral("-32767 files completed out of -32768")
                           : label->text());
        const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 10000),
                                                               Qt::TextWordWrap, label->text());
        EXPECT_LE(needed.width(), label->width()) << name;
        EXPECT_LE(needed.height(), label->height()) << name;
        EXPECT_TRUE(window->rect().contains(label->geometry())) << name;
    }
}

TEST_F(BusyWindowTest, captionDotsRunOneTwoThree) {
    const QStringList expected = {"Program is busy.", "Program is busy..", "Program is busy...",
                                  "Program is busy.", "Program is busy.."};
    for (const QString& caption : expected) {
        window->Timer1_Timer();
        EXPECT_EQ(window->windowTitle(), caption);
    }
    // A caption that is none of the three stays as it is.
    window->setWindowTitle("Program is busy....");
    window->Timer1_Timer();
    EXPECT_EQ(window->windowTitle(), "Program is busy....");
}

TEST_F(BusyWindowTest, captionRunsOnWhileHidden) {
    window->hide();
    window->Timer1_Timer();
    window->Timer1_Timer();
    window->show();
    window->Timer1_Timer();
    EXPECT_EQ(window->windowTitle(), "Program is busy...");
}

TEST_F(BusyWindowTest, progressLineCountsTheItemsDone) {
    tick(3, 10);
    EXPECT_EQ(line(), "2 files completed out of 10");
    EXPECT_TRUE(bar()->isVisible());
    EXPECT_EQ(bar()->maximum(), 10);
    EXPECT_EQ(bar()->value(), 2);

    tick(1, 1);
    EXPECT_EQ(line(), "0 files completed out of 1");
    EXPECT_EQ(bar()->value(), 0);

    // Counters outside the usual range are written as they are; the bar stays in range.
    tick(0, 5);
    EXPECT_EQ(line(), "-1 files completed out of 5");
    EXPECT_EQ(bar()->value(), 0);
    tick(32767, -3);
    EXPECT_EQ(line(), "32766 files completed out of -3");
    EXPECT_FALSE(bar()->isVisible());
}

TEST_F(BusyWindowTest, smallestCounterLeavesTheLineButTheTickGoesOn) {
    tick(3, 10);
    tick(-32768, 10);
    EXPECT_EQ(line(), "2 files completed out of 10");
    EXPECT_EQ(window->windowTitle(), "Program is busy..") << "the caption still moves";

    state.bolBusy = false;
    tick(-32768, 10);
    flushDeletes();
    EXPECT_TRUE(window.isNull()) << "the close test still runs";
}

TEST_F(BusyWindowTest, closesItselfAtTheFirstTickAfterTheBusyStateEnds) {
    window->Timer1_Timer();
    flushDeletes();
    ASSERT_FALSE(window.isNull());

    state.bolBusy = false;
    window->hide();
    tick(4, 4);
    flushDeletes();
    EXPECT_TRUE(window.isNull());

    // The next one starts afresh.
    state.bolBusy = true;
    window = new BusyWindow(state);
    EXPECT_EQ(window->windowTitle(), "Program is busy...");
    EXPECT_TRUE(line().isEmpty());
}

TEST_F(BusyWindowTest, itsTimerTicksByItself) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->windowTitle() == "Program is busy."; }));
    state.bolBusy = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }));
}

}  // namespace
}  // namespace vantory
