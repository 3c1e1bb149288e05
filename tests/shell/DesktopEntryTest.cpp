// The desktop's launcher: the program takes a firmware identifier as its first argument, so
// the launcher must hand it nothing: a field code would pass file names or URLs dropped on
// the icon as identifiers.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

TEST(DesktopEntry, StartsTheProgramWithoutArguments) {
    std::ifstream in(Q40_DESKTOP_ENTRY);
    ASSERT_TRUE(in) << Q40_DESKTOP_ENTRY;
    std::string exec;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Exec=", 0) == 0) exec = line;
    EXPECT_EQ(exec, "Exec=q40prog");
}
