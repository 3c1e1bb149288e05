// The station's board as the operator sees it: each socket's last board in large coloured
// words with the failure's text and cause, what the board on it does, its counts and yield,
// the alarm after three failures in a row, the totals and the last events; never wider than
// the terminal.
#include "cli/StationView.h"

#include <gtest/gtest.h>

namespace {
const std::string Green = "\x1b[1;32m", Red = "\x1b[1;31m", Yellow = "\x1b[1;33m";

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

SocketView Socket(const std::string& port, LastBoard last, SocketCounts counts = {}) {
    SocketView s;
    s.Port = port;
    s.Chip = "ATmega644P";
    s.Last = std::move(last);
    s.Counts = counts;
    s.Now.Text = "waiting for a board";
    return s;
}
}  // namespace

TEST(StationView, CountsAndYieldLeaveBoardsTakenOffOutOfTheYield) {
    EXPECT_EQ(SocketCountsText({}), "0 done, 0 failed, 0 taken off, yield -");
    EXPECT_EQ(SocketCountsText({12, 1, 0}), "12 done, 1 failed, 0 taken off, yield 92.3%");
    EXPECT_EQ(SocketCountsText({3, 0, 5}), "3 done, 0 failed, 5 taken off, yield 100.0%");
    EXPECT_EQ(SocketCountsText({0, 2, 1}), "0 done, 2 failed, 1 taken off, yield 0.0%");
}

TEST(StationView, AlarmNamesThePortAndWhatToCheck) {
    EXPECT_EQ(AlarmText("ttyUSB3"),
              "ttyUSB3: 3 boards in a row failed: check the box, its cable and the adapter");
}

TEST(StationView, EachSocketShowsItsLastBoardInLargeColouredWords) {
    const std::vector<SocketView> sockets = {
        Socket("ttyUSB0", {LastBoard::Pass, "", ""}, {4, 0, 0}),
        Socket("ttyUSB1",
               {LastBoard::Fail, "Verification of the flash failed.\nat address 0x0100",
                "verify mismatch"},
               {2, 3, 0}),
        Socket("ttyUSB2", {LastBoard::TakenOff, "The chip does not answer.", "target lost"},
               {0, 0, 1}),
        Socket("ttyUSB3", {}),
    };
    const std::string board = Joined(StationViewLines(sockets, {}, 100));
    // The words' first rows: P and A of PASS, F and A of FAIL, O of OFF.
    EXPECT_TRUE(Has(board, Green + "█▀█ ▄▀▄ ")) << board;
    EXPECT_TRUE(Has(board, Red + "█▀▀ ▄▀▄ ")) << board;
    EXPECT_TRUE(Has(board, Yellow + "█▀█ █▀▀ ")) << board;
    EXPECT_TRUE(Has(board, Red + "Verification of the flash failed.")) << board;
    EXPECT_TRUE(Has(board, Red + "at address 0x0100")) << board;
    EXPECT_TRUE(Has(board, Red + "cause: verify mismatch")) << board;
    EXPECT_TRUE(Has(board, Yellow + "board taken off")) << board;
    EXPECT_TRUE(Has(board, Yellow + "cause: target lost")) << board;
    EXPECT_TRUE(
        Has(board, "── ttyUSB1 ── ATmega644P ── 2 done, 3 failed, 0 taken off, yield 40.0%"))
        << board;
    EXPECT_TRUE(Has(board, "══ all sockets: 6 done, 3 failed, 1 taken off, yield 66.7%")) << board;
    // A socket without a last board has no word at all, only what it does now.
    const std::size_t usb3 = board.find("── ttyUSB3 ");
    ASSERT_NE(usb3, std::string::npos);
    EXPECT_FALSE(Has(board.substr(usb3), "▀")) << board;
    EXPECT_TRUE(Has(board.substr(usb3), "  now: ")) << board;
    EXPECT_TRUE(Has(board.substr(usb3), " waiting for a board")) << board;
    EXPECT_FALSE(Has(board, "last events")) << board;
}

TEST(StationView, AlarmAndEventsShowBelowTheirPlaces) {
    SocketView s = Socket("ttyUSB3", {LastBoard::Fail, "The chip does not answer.", ""}, {0, 3});
    s.Alarm = true;
    const std::vector<std::string> lines =
        StationViewLines({s}, {"10:00:01 ttyUSB3: FAILED", "10:00:09 ttyUSB3: FAILED"}, 120);
    ASSERT_GT(lines.size(), 2u);
    EXPECT_EQ(lines[1], Red + "!!! " + AlarmText("ttyUSB3") + "\x1b[0m");
    EXPECT_EQ(lines[lines.size() - 3], "last events:");
    EXPECT_EQ(lines[lines.size() - 2], "  10:00:01 ttyUSB3: FAILED");
    EXPECT_EQ(lines.back(), "  10:00:09 ttyUSB3: FAILED");
}

// Narrow terminals: every line fits, a long failure text wraps beside the word.
TEST(StationView, NoLineIsWiderThanTheTerminal) {
    SocketView s = Socket("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                          {LastBoard::Fail,
                           "Verification of the flash failed. The device keeps the old "
                           "firmware in part; update it again before it leaves the bench.",
                           "verify mismatch"},
                          {1, 1});
    s.Alarm = true;
    for (const int columns : {20, 40, 80, 132}) {
        SCOPED_TRACE(columns);
        const std::vector<std::string> lines =
            StationViewLines({s}, {std::string(300, 'e')}, columns);
        for (const std::string& l : lines)
            EXPECT_LT(ScreenWidth(l), static_cast<std::size_t>(std::max(columns, 11))) << l;
        if (columns >= 80) {
            EXPECT_TRUE(Has(Joined(lines), "bench.\x1b[0m")) << Joined(lines);
        }
    }
    EXPECT_EQ(ScreenWidth(Green + "█▀█" + "\x1b[0m" + "ab"), 5u);
}
