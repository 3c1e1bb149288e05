// Which identifier patterns a wanted identifier selects.
#include <gtest/gtest.h>

#include "catalogue/IdentifierSelection.h"

TEST(IdentifierSelects, CharactersOneToThreeAndFive) {
    const struct {
        const char* Wanted;
        const char* Identifier;
        bool Selects;
    } cases[] = {
        {"AB1x5", "AB1+5", true},  {"AB1x5", "AB175", true},  {"AB1x5", "AB1*5", true},
        {"AB1x5", "AB1+6", false}, {"AB1x5", "ab1+5", false}, {"AB1x5", "XB1+5", false},
        {"AB1x5", "AB1+59", true},  // beyond the fifth character nothing counts
        {"AB1+", "AB1+5", false},  {"AB1x5", "AB1+", false},  {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IdentifierSelects(c.Wanted, c.Identifier), c.Selects)
            << c.Wanted << " / " << c.Identifier;
}
