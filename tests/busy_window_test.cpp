#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "window/busy_window.h"

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

    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }
    QProgressBar* bar() const { return window->findChild<QProgressBar*>("progressBar"); }
    // One timer tick with the given counters; runs the deletion the window asked for.
    void tick(int16_t progress, int16_t total) {
        state.intProgress = progress;
        state.intProgressTotal = total;
        window->Timer1_Timer();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ProgramState state;
    QPointer<BusyWindow> window;
};

TEST_F(BusyWindowTest, showsItsWholeTextsInAFixedToolWindowOfItsOwn) {
    EXPECT_EQ(window->windowTitle(), "Program is busy...");
    QLabel* status = label("lblStatus");
    EXPECT_TRUE(status->text().isEmpty() && status->font().bold());
    EXPECT_EQ(status->font().pointSize(), 12);
    EXPECT_EQ(window->findChild<QTimer*>("Timer1")->interval(), 500);
    EXPECT_FALSE(bar()->isVisible() || label("lblClosing")->isVisible());
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->windowFlags() & (Qt::WindowType_Mask | Qt::WindowMinMaxButtonsHint),
              Qt::Tool);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());

    window->showClosingNote();
    state.fileBytes = {uint64_t{10239} << 20, uint64_t{10239} << 20};
    tick(-32766, -32768);  // the longest progress lines
    EXPECT_FALSE(window->windowIcon().isNull());
    for (auto [name, text] :
         {std::pair{"lblBusy",
                    "Be patient.  The file operations can be quite lengthy and memory-intensive.  "
                    "Large files can take many minutes to complete."},
          {"lblStatus", "-32767 files completed out of -32768"},
          {"lblBytes", "10239 MiB of 10239 MiB"},
          {"lblClosing", "Vantory closes once this is done."}}) {
        QLabel* shown = label(name);
        EXPECT_EQ(shown->text(), text);
        EXPECT_TRUE(shown->isVisible()) << name;
        const QRect needed = shown->fontMetrics().boundingRect(QRect(0, 0, shown->width(), 10000),
                                                               Qt::TextWordWrap, shown->text());
        EXPECT_LE(needed.width(), shown->width()) << name;
        EXPECT_LE(needed.height(), shown->height()) << name;
        EXPECT_TRUE(window->rect().contains(shown->geometry())) << name;
    }
}

// Each tick moves the caption's dots, also while the window is hidden, and shows the items
// done; at the smallest counter the line stays as it was. A value of -1: the bar is hidden.
// Its own timer closes it once the busy state ends.
TEST_F(BusyWindowTest, eachTickMovesTheDotsAndCountsTheItemsDone) {
    const std::tuple<int16_t, int16_t, const char*, int, int> ticks[] = {
        {3, 10, "2 files completed out of 10", 2, 1},
        {32767, -3, "32766 files completed out of -3", -1, 2},
        {-32768, 10, "32766 files completed out of -3", -1, 3},
    };
    for (const auto& [progress, total, text, value, dots] : ticks) {
        SCOPED_TRACE(text);
        window->setVisible(dots != 2);
        tick(progress, total);
        EXPECT_EQ(window->windowTitle(), "Program is busy" + QString(dots, '.'));
        EXPECT_EQ(label("lblStatus")->text(), text);
        EXPECT_EQ(!bar()->isHidden(), value >= 0);
        EXPECT_TRUE(value < 0 || (bar()->maximum() == total && bar()->value() == value));
    }
    state.intProgress = -32768;  // the line stays, and the close test still runs
    state.bolBusy = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }));
}

// Once a large file is in hand a line says how much of it is done, in a unit that keeps the
// numbers short, and stays; while the operation has that one file, the bar follows its bytes.
TEST_F(BusyWindowTest, aLargeFileInHandShowsItsBytesDone) {
    const int height = window->height();
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    const std::tuple<int16_t, FileBytes, const char*, int> ticks[] = {
        {1, {kMiB - 2, kMiB - 1}, "", 0},
        {1, {12 * kMiB, 40 * kMiB}, "12 MiB of 40 MiB", 300},
        {3, {0, 2000}, "0 bytes of 2000 bytes", 0},
    };
    for (const auto& [total, bytes, line, value] : ticks) {
        SCOPED_TRACE(line);
        state.fileBytes = bytes;
        tick(1, total);
        QLabel* shown = label("lblBytes");
        EXPECT_EQ(shown->isVisible(), *line != 0);
        EXPECT_EQ(window->height(), height + (*line != 0 ? 20 : 0));
        EXPECT_TRUE(*line == 0 || shown->text() == line);
        EXPECT_EQ(bar()->value(), value);
        EXPECT_TRUE(window->rect().contains(bar()->geometry()));
        EXPECT_GE(bar()->y(), shown->isVisible() ? shown->geometry().bottom() : 0);
    }
}

}  // namespace
}  // namespace vantory
