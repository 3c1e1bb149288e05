// Several updates on one terminal: each port's line fits the width, keeps what tells the
// ports apart (the end of the name, the counts) and the progress readable.
#include "cli/PortLine.h"

#include <gtest/gtest.h>

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
