#include <gtest/gtest.h>

#include "programming/ProgressText.h"

TEST(ProgressText, StatusLines) {
    const struct {
        int32_t position, total, phase;
        const char* text;
    } cases[] = {
        {0, 100, 2, "Programming/Verifying flash... 0%"},
        {45, 100, 2, "Programming/Verifying flash... 45%"},
        {1, 3, 6, "Reading EEProm... 33%"},
        {37, 100, 4, "Reading flash...37%"},
        {1, 1, 3, "Flash programmed ok."},
        {1, 1, 1, "Flash verifyed ok."},
        {1, 1, 11, "EEProm programmed ok."},
        {5, 10, 10, "Programming/Verifying EEProm... 50%"},
        {5, 0, 2, "Programming/Verifying flash... 0%"},
        {5, -3, 8, "Verifying EEProm... 0%"},
        {0x3FF80, 0x40000, 2, "Programming/Verifying flash... 99%"},
        {1, 1, 12, ""},
        {1, 1, -1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusText(c.position, c.total, c.phase), c.text) << c.phase << " " << c.position;
}
