// Which item's firmware a flash holds when several could: the ranking of the verdict, lengths
// the check value cannot be taken at, firmware files that cannot be read.
#include "programming/InstalledFirmware.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "image/CheckValue.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"

namespace {
const DeviceEntry& Mega644P() {
    return *FindDeviceByName("ATmega644P");
}

// A full flash with two identifiers, its check value stamped at 0x8000.
struct Flash {
    Flash() : Bytes(RandomBytes(0x10000, 12)) {
        std::memcpy(Bytes.data() + 0x80, "AB105 1.5", 10);
        std::memcpy(Bytes.data() + 0x90, "CD207 2.0", 10);
        Bytes[0xFFFF] = 0x00;
        StampCheckValue(Bytes.data(), 0x8000);
    }
    std::vector<uint8_t> Bytes;
};

DeviceReadout Survey(const std::vector<uint8_t>& flash, const std::vector<KnownFirmware>& items) {
    DeviceReadout r;
    SurveyFlash(flash.data(), Mega644P(), items, r);
    return r;
}
}  // namespace

TEST(InstalledFirmware, RankingLengthsAndFiles) {
    TempFolder temp;
    Flash f;
    // The file of item 2 is what the flash holds, up to its 64 KiB.
    {
        std::ofstream out(temp.File("same.bin"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(f.Bytes.data()), 0x10000);
    }
    const std::string missing = temp.File("missing.hex");
    const struct {
        const char* Name;
        std::vector<KnownFirmware> Items;
        const char* Verdict;
    } cases[] = {
        {"intact and its file's own wins over a lower item number with a wrong length",
         {{1, "One", "AB1+5", missing, "0x4000"},
          {2, "Two", "CD2+7", temp.File("same.bin"), "32768"}},
         "installed: item 2 Two, CD207 2.0, check value valid, same as its firmware file"},
        {"intact beats unchecked; an unreadable file is said so",
         {{1, "One", "AB1+5", missing, ""}, {2, "Two", "CD2+7", missing, "$8000"}},
         "installed: item 2 Two, CD207 2.0, check value valid, its firmware file cannot be read"},
        {"no length and no file",
         {{1, "One", "AB1+5", missing, "not a number"}},
         "identifier AB105 1.5 found, check value not checked: no application length: the "
         "catalogue gives none and the firmware file cannot be read"},
        {"a length beyond the chip's flash",
         {{1, "One", "AB1+5", missing, "0x20000"}},
         "identifier AB105 1.5 found, check value not checked: application length 0x20000 is "
         "outside the ATmega644P's flash"},
        {"a wrong length makes a wrong check value",
         {{1, "One", "AB1+5", missing, "0x4000"}},
         "identifier AB105 1.5 found, check value wrong: an interrupted or damaged update"},
        {"patterns shorter than five characters match nothing",
         {{1, "One", "AB1", missing, "0x8000"}, {2, "Two", "", missing, ""}},
         "no identifier of this catalogue found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const DeviceReadout r = Survey(f.Bytes, c.Items);
        EXPECT_EQ(FlashVerdict(r), c.Verdict);
    }
}

// Of two items with the same identifier, both intact, the first in the catalogue is named;
// each is checked at its own length and told in the log lines.
TEST(InstalledFirmware, EveryFoundItemIsCheckedAndTold) {
    Flash f;
    const DeviceReadout r = Survey(f.Bytes, {{4, "Four", "AB1x5", "", "0x8000"},
                                             {6, "Six", "AB1+5", "", "0x8000"},
                                             {7, "Seven", "AB1-5", "", "0x9000"}});
    ASSERT_EQ(r.Checks.size(), 3u);
    EXPECT_TRUE(r.Checks[0].Valid);
    EXPECT_TRUE(r.Checks[1].Valid);
    EXPECT_FALSE(r.Checks[2].Valid);
    EXPECT_EQ(r.Checks[0].File, ItemCheck::Unreadable);
    EXPECT_EQ(FlashVerdict(r),
              "installed: item 4 Four, AB105 1.5, check value valid, its firmware file cannot be "
              "read");
    const std::vector<std::string> lines = SurveyLines(r, 0x10000);
    EXPECT_EQ(lines[0], "flash: last non-blank byte at 0xFFFF of 65536 bytes");
    EXPECT_EQ(lines[1], "application identifier of item 4 (AB1x5): AB105 1.5");
    char valid[96];
    std::snprintf(valid, sizeof valid,
                  "item 4: check value 0x%04X at 0x7FFE (application length 32768) valid",
                  StoredCheckValue(f.Bytes.data(), 0x8000));
    EXPECT_NE(std::find(lines.begin(), lines.end(), valid), lines.end());
    EXPECT_EQ(lines.back().rfind("item 7: its firmware file cannot be read: Error opening "
                                 "firmware file.",
                                 0),
              0u);
}
