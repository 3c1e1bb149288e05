// The progress line fitted to the terminal: never wider than the terminal, percent and
// remaining time whole and right after the phase text.
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

namespace {
const ProgressLineParts Flash{"Programming/Verifying flash... ", "41%", "9 s left", 0.41};
const ProgressLineParts Read{"Reading flash...", "37%", "", 0.37};
const ProgressLineParts Finished{"Flash programmed ok.", "", "", 1.0};
}  // namespace

TEST(ProgressLine, FitsEveryWidthAndKeepsPercentAndTimeTogether) {
    for (const ProgressLineParts& p : {Flash, Read, Finished}) {
        const std::string tail = p.Percent + (p.Left.empty() ? "" : ", " + p.Left);
        for (int columns = 1; columns <= 200; ++columns) {
            SCOPED_TRACE(p.Phase + " in " + std::to_string(columns) + " columns");
            const std::string line = FitProgressLine(p, columns);
            EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 1)));
            EXPECT_FALSE(line.empty());
            EXPECT_EQ(line.find("  "), std::string::npos) << line;  // no stray gaps
            if (!p.Percent.empty() && columns > static_cast<int>(tail.size())) {
                ASSERT_GE(line.size(), tail.size());
                EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
            }
        }
    }
}

TEST(ProgressLine, WideTerminalsGetBarAndWholeText) {
    EXPECT_EQ(FitProgressLine(Flash, 80),
              "[############------------------] Programming/Verifying flash... 41%, 9 s left");
    EXPECT_EQ(FitProgressLine(Read, 200).substr(ProgressBarMaxWidth + 3), "Reading flash...37%");
    // 60 columns: a shorter bar, the text whole; the bar keeps its width as the time grows.
    const std::string sixty = FitProgressLine(Flash, 60);
    EXPECT_EQ(sixty, "[####------] Programming/Verifying flash... 41%, 9 s left");
    ProgressLineParts later = Flash;
    later.Percent = "100%";
    later.Left = "99 s left";
    EXPECT_EQ(FitProgressLine(later, 60).find("] "), sixty.find("] "));
    // Narrower: no bar, then a shortened phase text, then percent and time alone.
    EXPECT_EQ(FitProgressLine(Flash, 50), "Programming/Verifying flash... 41%, 9 s left");
    EXPECT_EQ(FitProgressLine(Flash, 30), "Programming/Ver 41%, 9 s left");
    EXPECT_EQ(FitProgressLine(Flash, 16), "41%, 9 s left");
    EXPECT_EQ(FitProgressLine(Flash, 8), "41%");
    EXPECT_EQ(FitProgressLine(Finished, 12), "Flash progr");
}

TEST(ProgressLine, RemainingTime) {
    EXPECT_EQ(RemainingText(0.2), "0 s left");
    EXPECT_EQ(RemainingText(9.4), "9 s left");
    EXPECT_EQ(RemainingText(99.4), "99 s left");
    EXPECT_EQ(RemainingText(125), "2 min 5 s left");
}
