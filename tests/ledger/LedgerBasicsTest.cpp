// The ledger's small parts: run ids, times, texts for PostgreSQL, digests, the report's order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "ledger/LedgerError.h"
#include "ledger/LedgerReport.h"
#include "ledger/RunId.h"
#include "ledger/Sha256.h"
#include "ledger/UtcTime.h"
#include "ledger/Utf8Text.h"
#include "tests/ledger/LedgerSamples.h"
#include "tests/support/TempFolder.h"

namespace {
using std::chrono::milliseconds;

TEST(RunId, IsAVersion4UuidAndNeverRepeats) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = NewRunId();
        ASSERT_TRUE(IsRunId(id)) << id;
        EXPECT_EQ(id[14], '4') << id;                                          // version
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;  // variant
        EXPECT_TRUE(seen.insert(id).second) << id;
    }
    for (const char* bad :
         {"", "1b4e28ba-2fa1-41d2-883f-0016d3cca42", "1b4e28ba2fa141d2883f0016d3cca427",
          "1b4e28ba-2fa1-41d2-883f-0016d3cca42g", "1b4e28ba-2fa1-41d2-883f_0016d3cca427"})
        EXPECT_FALSE(IsRunId(bad)) << bad;
}

TEST(UtcTime, KeepsMillisecondsAndReadsItsOwnFormBack) {
    const auto t = LedgerClock::from_time_t(1796856601) + milliseconds(123);  // 2026-12-09
    EXPECT_EQ(UtcText(t), "2026-12-09T22:50:01.123Z");
    EXPECT_EQ(ParseUtcText("2026-12-09T22:50:01.123Z"), t);
    EXPECT_EQ(ParseUtcText("2026-12-09T22:50:01Z"), t - milliseconds(123));
    EXPECT_EQ(UtcText(LedgerClock::from_time_t(0) - milliseconds(1)), "1969-12-31T23:59:59.999Z");
    for (const char* bad :
         {"", "2026-12-09", "2026-12-09T22:50:01.123", "2026-12-09T22:50:01.123+01:00",
          "2026-13-09T22:50:01Z", "2026-12-09T24:00:00Z", "2026-12-09T22:50:01.12Z",
          "x026-12-09T22:50:01Z"})
        EXPECT_FALSE(ParseUtcText(bad)) << bad;
}

TEST(UtcTime, ReportTimesInLocalTimeOrWithTheirZone) {
    const char* const savedZone = std::getenv("TZ");
    const std::string saved = savedZone ? savedZone : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // Central Europe, summer time in March
    tzset();
    const auto now = At("2026-03-31T10:15:00.000Z");
    const struct {
        const char* Text;
        const char* Utc;
    } cases[] = {
        {"2026-03-02", "2026-03-01T23:00:00.000Z"},        // winter: UTC+1
        {"2026-03-30T08:30", "2026-03-30T06:30:00.000Z"},  // summer: UTC+2
        {"2026-03-30 08:30:15", "2026-03-30T06:30:15.000Z"},
        {"2026-03-30T08:30:15.250Z", "2026-03-30T08:30:15.250Z"},
        {"2026-03-30T08:30+05:30", "2026-03-30T03:00:00.000Z"},
        {"2026-03-30T08:30-0100", "2026-03-30T09:30:00.000Z"},
        {"today", "2026-03-30T22:00:00.000Z"},
        {"yesterday", "2026-03-29T22:00:00.000Z"},  // the night the clocks changed
    };
    for (const auto& c : cases) {
        const auto t = ParseReportTime(c.Text, now);
        ASSERT_TRUE(t) << c.Text;
        EXPECT_EQ(UtcText(*t), c.Utc) << c.Text;
    }
    for (const char* bad : {"", "tomorrow", "2026-3-02", "2026-03-02T8:30", "2026-03-02T08:30+1",
                            "2026-03-02T08:30 Z", "2026-03-02T08:30+25:00", "02.03.2026"})
        EXPECT_FALSE(ParseReportTime(bad, now)) << bad;
    if (savedZone)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(Utf8Text, KeepsValidTextAndReplacesWhatPostgresqlRefuses) {
    const struct {
        std::string In, Out;
    } cases[] = {
        {"plain ASCII", "plain ASCII"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xF0\x9F\x94\xA7",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC \xF0\x9F\x94\xA7"},
        {"Pr\xFC"
         "fung.hex",
         "Pr\xEF\xBF\xBD"
         "fung.hex"},  // Windows-1252
        {std::string("a\0b", 3),
         "a\xEF\xBF\xBD"
         "b"},                                                                     // NUL
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // surrogate
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // cut short
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // > U+10FFFF
    };
    for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.In), c.Out) << c.In;
}

TEST(Sha256, DigestsOfBytesAndFiles) {
    EXPECT_EQ(Sha256Hex(std::string()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex(std::string("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    TempFolder folder;
    const std::string path = folder.File("firmware.bin");
    {
        // More than one read buffer: the digest goes on across the reads.
        std::string bytes(200000, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        EXPECT_EQ(FileSha256Hex(path), Sha256Hex(bytes));
    }
    EXPECT_EQ(FileSha256Hex(folder.File("missing")), "");
}

TEST(LedgerError, DatabaseMessagesBecomeOneLine) {
    EXPECT_EQ(OneLine("connection to server at \"127.0.0.1\", port 1 failed: Connection refused\n"
                      "\tIs the server running on that host and accepting TCP/IP connections?\n"),
              "connection to server at \"127.0.0.1\", port 1 failed: Connection refused; Is the "
              "server running on that host and accepting TCP/IP connections?");
    EXPECT_EQ(OneLine("FATAL:  password authentication failed for user \"q40\"\n"),
              "FATAL: password authentication failed for user \"q40\"");
    EXPECT_EQ(OneLine("\n  \n"), "");
}

TEST(LedgerReport, GroupsInTheOrderAPersonReads) {
    const std::vector<std::pair<std::string, std::string>> less = {
        {"ttyUSB2", "ttyUSB10"},
        {"3 Q40 Basic", "12 Q40 Pro"},
        {"2026-03-02", "2026-03-10"},
        {"bench-9:x", "bench-10:a"},
        {"", "a"},
        {"a", "b"},
        {"abc", "abcd"},
        {"a1", "a1b"},
        {"B", "a"},
    };
    for (const auto& [a, b] : less) {
        EXPECT_TRUE(NaturalLess(a, b)) << a << " < " << b;
        EXPECT_FALSE(NaturalLess(b, a)) << b << " < " << a;
    }
    EXPECT_FALSE(NaturalLess("x", "x"));
    for (const char* word : {"day", "station", "port", "item", "firmware", "chip", "operator"})
        EXPECT_STREQ(GroupingName(*ParseGrouping(word)), word);
    EXPECT_FALSE(ParseGrouping("Day"));
    EXPECT_FALSE(ParseGrouping("serial"));
}
}  // namespace
