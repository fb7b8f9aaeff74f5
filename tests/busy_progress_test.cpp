#include "session/busy_progress.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/fake_clock.h"

namespace vantory {
namespace {

TEST(BusyProgressTest, theCaptionRunsItsDotsAndBytesCountInAShortUnit) {
    for (const auto& [caption, next] : {std::pair{"Program is busy...", "Program is busy."},
                                        {"Program is busy.", "Program is busy.."},
                                        {"Program is busy..", "Program is busy..."},
                                        {"Program is busy....", "Program is busy...."}}) {
        EXPECT_EQ(NextBusyCaption(caption), next);
    }
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    EXPECT_EQ(BytesText(12 * kMiB, 40 * kMiB), "12 MiB of 40 MiB");
    EXPECT_EQ(BytesText(5 * 1024 * kMiB, 12 * 1024 * kMiB + 1), "5 GiB of 12 GiB");
    EXPECT_EQ(BytesText(0, 10239), "0 bytes of 10239 bytes");
}

// Each tick shows the items done and, from the first large file on, its bytes; the first
// tick that finds the program no longer busy closes the window, and no tick follows.
TEST(BusyProgressTest, eachTickReadsTheStateUntilItIsNoLongerBusy) {
    ProgramState state;
    state.bolBusy = true;
    test::FakeClock clock;
    test::FakeTimer timer{clock};
    BusyProgress progress(state, timer);
    EXPECT_EQ(timer.firesAt, 500);
    constexpr uint64_t kMiB = uint64_t{1} << 20;
    struct Row {
        const char* name;
        int16_t item, total;
        FileBytes bytes;
        const char* status;  // "": as it was
        const char* bytesLine;
        BusyProgress::Bar bar;
    };
    for (const Row& row : {
             Row{"items", 0, 5, {0, kMiB - 1}, "-1 files completed out of 5", "", {true, 5, 0}},
             Row{"no total", 1, -3, {0, kMiB - 1}, "0 files completed out of -3", "", {}},
             Row{"a large file",
                 1,
                 1,
                 {3 * kMiB, 2 * kMiB},
                 "0 files completed out of 1",
                 "2048 KiB of 2048 KiB",
                 {true, 1000, 1000}},
             Row{"its line stays", -32768, 3, {7, 9}, "", "7 bytes of 9 bytes", {}},
         }) {
        clock.now += 500;
        state.intProgress = row.item;
        state.intProgressTotal = row.total;
        state.fileBytes = row.bytes;
        const BusyProgress::View view = progress.tick();
        EXPECT_EQ(view.status.value_or(""), row.status) << row.name;
        EXPECT_EQ(view.bytes.value_or(""), row.bytesLine) << row.name;
        const BusyProgress::Bar bar = view.bar.value_or(BusyProgress::Bar{});
        EXPECT_EQ(std::tuple(bar.shown, bar.maximum, bar.value),
                  std::tuple(row.bar.shown, row.bar.maximum, row.bar.value))
            << row.name;
        EXPECT_FALSE(view.close);
        EXPECT_EQ(timer.firesAt, clock.now + 500) << row.name;
    }
    state.bolBusy = false;
    timer.stop();
    EXPECT_TRUE(progress.tick().close);
    EXPECT_EQ(timer.firesAt, std::nullopt);
}

}  // namespace
}  // namespace vantory
