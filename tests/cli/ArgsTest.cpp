// The command line as the commands see it: values in order, flags, positionals, and the
// first problem named.
#include "cli/Args.h"

#include <gtest/gtest.h>

namespace {
const std::set<std::string> Valued{"--port", "--id"};
const std::set<std::string> Flags{"--details"};
const std::set<std::string> Repeatable{"--port"};

TEST(Args, ValuesFlagsAndPositionalsAsGiven) {
    const Args args({"--port", "A", "f.hex", "--port=B", "--id", "--details", "-5", "--port="},
                    Valued, Flags, Repeatable);
    ASSERT_TRUE(args.Ok()) << args.ErrorText();
    EXPECT_EQ(args.Options("--port"), (std::vector<std::string>{"A", "B", ""}));
    EXPECT_EQ(args.Option("--port"), "");
    EXPECT_EQ(args.Option("--id"), "--details");  // a value is taken as it comes
    EXPECT_FALSE(args.Flag("--details"));
    EXPECT_EQ(args.Positionals(), (std::vector<std::string>{"f.hex", "-5"}));

    const Args none({"--details"}, Valued, Flags);
    EXPECT_TRUE(none.Flag("--details"));
    EXPECT_EQ(none.Option("--port"), std::nullopt);
    EXPECT_TRUE(none.Options("--id").empty());
}

TEST(Args, TheFirstProblemIsNamed) {
    const struct {
        std::vector<std::string> Argv;
        const char* Error;
    } cases[] = {
        {{"--port"}, "option --port needs a value"},
        {{"x", "--id"}, "option --id needs a value"},
        {{"--bogus", "--port"}, "unknown option --bogus"},
        {{"--port", "A", "--bogus=1", "--port"}, "unknown option --bogus=1"},
        {{"--details=yes", "--bogus"}, "unknown option --details=yes"},
        {{"--bogus", "--details=yes"}, "unknown option --bogus"},
        // Of two values one would win unseen; only a repeatable option takes several.
        {{"--id", "a", "--port", "A", "--id", "b"}, "option --id is given twice"},
        {{"--id=a", "--id="}, "option --id is given twice"},
        {{"--id", "a", "--id", "a"}, "option --id is given twice"},
        {{"--details", "--port", "A", "--details"}, "option --details is given twice"},
        {{"--bogus", "--id", "a", "--id", "b"}, "unknown option --bogus"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Args(c.Argv, Valued, Flags, Repeatable).ErrorText(), c.Error);
}
}  // namespace
