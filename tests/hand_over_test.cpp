#include "session/hand_over.h"

#include <gtest/gtest.h>

#include "session/stopped_start.h"
#include "support/fake_ui_services.h"

namespace vantory {
namespace {

// A message read back in pieces of every size gives the paths it was made of.
TEST(HandOverTest, messageReadsBackInPiecesOfAnySize) {
    const std::vector<std::string> paths = {"/home/a b/\xc3\xa9t\xc3\xa9.txt", "", "C:\\x.dat"};
    const std::string message = HandOver::message(paths);
    for (size_t piece = 1; piece <= message.size(); piece += 7) {
        HandOverReader reader;
        for (size_t at = 0; at < message.size(); at += piece) {
            reader.take(std::string_view(message).substr(at, piece));
        }
        ASSERT_EQ(reader.state(), HandOverReader::State::kWhole) << piece;
        EXPECT_EQ(reader.paths(), paths) << piece;
        EXPECT_EQ(reader.wanted(), 0u);
    }
}

// What is not a whole message of this program is refused, and never taken for a shorter list.
TEST(HandOverTest, refusesWhatIsNotOneWholeMessage) {
    const std::string good = HandOver::message({"/a", "/b"});
    std::string badMagic = good, badVersion = good, tooLong = good, countTooHigh = good;
    badMagic[0] = 'X';
    badVersion[7] = 9;
    tooLong[11] = 1;  // a body of 4 GiB and more
    countTooHigh[19] = 3;
    struct Row {
        const char* name;
        std::string bytes;
        HandOverReader::State state;
    };
    for (const Row& row :
         {Row{"another magic", badMagic, HandOverReader::State::kRefused},
          Row{"another version", badVersion, HandOverReader::State::kRefused},
          Row{"longer than a command line", tooLong, HandOverReader::State::kRefused},
          Row{"more paths than it holds", countTooHigh, HandOverReader::State::kRefused},
          Row{"bytes after it", good + "x", HandOverReader::State::kRefused},
          Row{"cut short", good.substr(0, good.size() - 1), HandOverReader::State::kMore}}) {
        HandOverReader reader;
        EXPECT_EQ(reader.take(row.bytes), row.state) << row.name;
    }
}

// A start stopped by another copy hands its files over, and says so when that fails; a start
// stopped by settings it cannot use hands nothing to anyone.
TEST(HandOverTest, aStoppedStartHandsItsFilesToTheRunningCopy) {
    struct Row {
        const char* name;
        StartOutcome outcome;
        std::vector<std::string> files;
        bool handOverWorks;
        int status, handOvers, messages;
    };
    for (const Row& row : {
             Row{"nothing to hand over", StartOutcome::kAnotherInstance, {}, true, 0, 0, 0},
             Row{"handed over", StartOutcome::kAnotherInstance, {"/a"}, true, 0, 1, 0},
             Row{"not taken", StartOutcome::kAnotherInstance, {"/a"}, false, 1, 1, 1},
             Row{"settings unusable", StartOutcome::kSettingsUnusable, {"/a"}, true, 1, 0, 0},
             Row{"storage in use", StartOutcome::kStorageInUse, {"/a"}, true, 1, 0, 0},
         }) {
        test::FakeUiServices ui;
        int handOvers = 0;
        const int status =
            FinishStoppedStart(row.outcome, row.files, ui,
                               [&](const std::vector<std::string>& files, std::string& error) {
                                   ++handOvers;
                                   EXPECT_EQ(files, row.files) << row.name;
                                   error = "not answering";
                                   return row.handOverWorks;
                               });
        EXPECT_EQ(status, row.status) << row.name;
        EXPECT_EQ(handOvers, row.handOvers) << row.name;
        ASSERT_EQ(ui.messages.size(), static_cast<size_t>(row.messages)) << row.name;
        if (row.messages > 0) {
            EXPECT_EQ(ui.messages[0].text, "not answering") << row.name;
            EXPECT_EQ(ui.messages[0].style, UiServices::kExclamation) << row.name;
        }
    }
}

}  // namespace
}  // namespace vantory
