// Several updates on one terminal: each port's line fits the width, keeps what tells the
// ports apart (the end of the name, the counts) and the progress readable.
#include "cli/PortLine.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace {
const ProgressLineParts Flash{"Programming/Verifying flash... ", "41%", "9 s left", 0.41};
const std::string LongPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

PortLineParts InTransfer(const std::string& port, const std::string& counts = {}) {
    PortLineParts p;
    p.Port = port;
    p.Chip = "ATmega644P";
    p.Counts = counts;
    p.InTransfer = true;
    p.Progress = Flash;
    return p;
}
}  // namespace

TEST(PortLine, FitsEveryWidthAndKeepsTheCountsAndTheTail) {
    const std::string tail = "41%, 9 s left";
    for (const std::string& port : {std::string("ttyUSB0"), LongPort}) {
        for (const std::string& counts : {std::string(), std::string("3 done, 1 failed")}) {
            for (int columns = 1; columns <= 160; ++columns) {
                SCOPED_TRACE(testing::Message() << port << " " << counts << " in " << columns);
                const std::string line =
                    FitPortLine(InTransfer(port, counts), port.size(), columns);
                EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 1)));
                if (columns >= 80) {
                    EXPECT_NE(line.find(counts), std::string::npos) << line;
                    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
                    EXPECT_NE(line.find(port.substr(port.size() - 5)), std::string::npos)
                        << line;  // the end of the name
                }
            }
        }
    }
}

TEST(PortLine, ColumnsLineUpAndTextStandsInForProgress) {
    PortLineParts waiting;
    waiting.Port = "ttyUSB0";
    waiting.Counts = "0 done, 0 failed";
    waiting.Text = "waiting for a board";
    EXPECT_EQ(FitPortLine(waiting, 10, 80),
              "ttyUSB0                 0 done, 0 failed  waiting for a board");
    EXPECT_EQ(FitPortLine(InTransfer("ttyUSB10"), 10, 100),
              "ttyUSB10    ATmega644P  [##########----------------] Programming/Verifying flash... "
              "41%, 9 s left");
    EXPECT_EQ(PortColumn(LongPort, 12), "..if00-port0");
    EXPECT_EQ(PortColumn("ttyS0", 8), "ttyS0   ");
    EXPECT_EQ(PortColumn(LongPort, 12).size(), 12u);
}

// An outcome never reads as another: a word is left off whole, after the port name has given
// way down to its shortest column.
TEST(PortLine, OutcomesLoseWholeWordsOnlyAfterThePortName) {
    const std::string outcome =
        "FAILED: Error opening serial port. Port not available. Take the board off.";
    std::vector<std::string> words;
    for (std::size_t at = 0; at < outcome.size();) {
        const std::size_t end = std::min(outcome.find(' ', at), outcome.size());
        words.push_back(outcome.substr(at, end - at));
        at = end + 1;
    }
    for (const std::string& port : {std::string("ttyUSB0"), LongPort}) {
        for (const std::string& counts : {std::string(), std::string("3 done, 1 failed")}) {
            for (int columns = 50; columns <= 200; ++columns) {
                SCOPED_TRACE(testing::Message() << port << " " << counts << " in " << columns);
                PortLineParts p;
                p.Port = port;
                p.Chip = "ATmega644P";
                p.Counts = counts;
                p.Text = outcome;
                const std::string line = FitPortLine(p, port.size(), columns);
                EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 1));
                if (line.find(outcome) != std::string::npos) continue;
                // Cut: the name is as short as it gets, and the text ends in a whole word.
                if (port.size() > 6) {
                    EXPECT_EQ(line.substr(0, 8), PortColumn(port, 6) + "  ");
                }
                ASSERT_GE(line.size(), 3u);
                EXPECT_EQ(line.substr(line.size() - 3), "...") << line;
                const std::string body = line.substr(0, line.size() - 3);
                const std::string last = body.substr(body.rfind(' ') + 1);
                EXPECT_NE(std::find(words.begin(), words.end(), last), words.end()) << line;
                EXPECT_NE(line.find("FAILED:"), std::string::npos) << line;
            }
        }
    }
}

TEST(PortLine, ThePortNameGivesWayBeforeTheOutcome) {
    PortLineParts p;
    p.Port = LongPort;
    p.Chip = "ATmega644P";
    p.Text = "FAILED: Programmer not connected.";
    // Room for the whole outcome once the name is shortened below its usual third.
    EXPECT_EQ(FitPortLine(p, LongPort.size(), 61),
              "..-if00-port0  ATmega644P  FAILED: Programmer not connected.");
    EXPECT_EQ(FitPortLine(p, LongPort.size(), 50), "..ort0  ATmega644P  FAILED: Programmer not...");
    EXPECT_EQ(FitPortLine(p, LongPort.size(), 36), "..ort0  ATmega644P  FAILED:...");
    EXPECT_EQ(FitPortLine(p, LongPort.size(), 28), "..ort0  ATmega644P  ...");
    p.Port = "ttyUSB0";
    EXPECT_EQ(FitPortLine(p, 7, 80), "ttyUSB0  ATmega644P  FAILED: Programmer not connected.");
}
