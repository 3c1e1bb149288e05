#include <gtest/gtest.h>

#include "programming/NumberText.h"

TEST(NumberText, AcceptedForms) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"226", 226},
        {"$E2", 0xE2},
        {"0xE2", 0xE2},
        {"0Xe2", 0xE2},
        {"xE2", 0xE2},
        {"XE2", 0xE2},
        {"  42", 42},
        {"-5", -5},
        {"+7", 7},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"0", 0},
    };
    for (const auto& c : cases) {
        const auto v = ParseNumber(c.text);
        ASSERT_TRUE(v.has_value()) << c.text;
        EXPECT_EQ(*v, c.value) << c.text;
    }
}

TEST(NumberText, RejectedForms) {
    for (const char* text : {"", " ", "$", "0x", "E2", "12 ", "12a", "$G2", "--1", "2147483648",
                             "$100000000", "1.5", "\t12", "0x-1"})
        EXPECT_FALSE(ParseNumber(text).has_value()) << '"' << text << '"';
}
