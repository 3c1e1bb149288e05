// The update action up to the run, as the window and the command line both take it.
#include "catalogue/UpdatePlan.h"

#include <gtest/gtest.h>

#include "tests/catalogue/CatalogueFolder.h"

namespace {
const std::string Item =
    "[ITEM_4]\nNAME=Main\nVERSION=AB1*5\nFirmware=main.hex\n"
    "Processor_1=ATmega644P\nFuse_Lo_1=0xD7\nFuse_Hi_1=0xD0\nSpeed_1=20\n"
    "Processor_3=atmega644p\nFuse_Lo_3=$E2\nFuse_Ex_3=0xFD\nBootloader_3=61440\nLockout_3=yes\n"
    "Processor_4=ATmega2560\n";

class Plan : public testing::Test {
protected:
    UpdatePlan For(const std::string& chipAnswer) {
        return PlanItemUpdate(Folder.Reader(), Folder.Folder(), 4, "ttyUSB3",
                              [&](const std::string& port) {
                                  PortsAsked.push_back(port);
                                  return chipAnswer;
                              });
    }
    CatalogueFolder Folder;
    std::vector<std::string> PortsAsked;
};
}  // namespace

TEST_F(Plan, LastEntryNamingTheChipFillsTheRunParams) {
    Folder.WriteCatalogue(Item);
    const UpdatePlan p = For("ATmega644P");
    ASSERT_EQ(p.Result, UpdatePlan::Ready);
    EXPECT_EQ(PortsAsked, std::vector<std::string>{"ttyUSB3"});
    EXPECT_EQ(p.Chip, "ATmega644P");
    EXPECT_EQ(p.Params.FirmwarePath, Folder.Folder() + "/Firmware/main.hex");
    EXPECT_EQ(p.Params.FuseLo, "$E2");
    EXPECT_EQ(p.Params.FuseHi, "");  // entry 1's is not borrowed
    EXPECT_EQ(p.Params.FuseEx, "0xFD");
    EXPECT_EQ(p.Params.Speed, "");
    EXPECT_EQ(p.Params.Bootloader, "61440");
    EXPECT_EQ(p.Params.PortName, "ttyUSB3");
    EXPECT_TRUE(p.Params.AllowIspLockout);
    // The entry names the chip: the run can refuse a fuse the chip lacks before it opens the
    // port. The name is the identification's, not the entry's spelling.
    EXPECT_EQ(p.Params.Chip, "ATmega644P");
    EXPECT_EQ(p.FirmwareIdText, "AB1*5");
}

TEST_F(Plan, NoEntryForTheChipOrAFailedQuery) {
    Folder.WriteCatalogue(Item);
    const UpdatePlan none = For("ATmega128");
    EXPECT_EQ(none.Result, UpdatePlan::NoMatch);
    EXPECT_EQ(none.Chip, "ATmega128");
    EXPECT_EQ(none.Params.FirmwarePath, "");
    EXPECT_STREQ(NoMatchText, "This item cannot be programmed using this selection!");
    // Entries 1 and 3 name one chip in two spellings: it is listed once, as first written.
    EXPECT_EQ(none.ListedChips, (std::vector<std::string>{"ATmega644P", "ATmega2560"}));
    EXPECT_EQ(NoMatchDetail(none),
              "The connected chip is ATmega128; this item lists ATmega644P, ATmega2560.");
    // The query has reported its failure; nothing more is said.
    EXPECT_EQ(For("").Result, UpdatePlan::ChipQueryFailed);
}

TEST_F(Plan, NoMatchDetailOfAnItemWithoutChips) {
    // An empty entry names no chip.
    Folder.WriteCatalogue("[ITEM_4]\nNAME=Bare\nFirmware=main.hex\nProcessor_2=\n");
    const UpdatePlan p = For("ATmega644P");
    ASSERT_EQ(p.Result, UpdatePlan::NoMatch);
    EXPECT_TRUE(p.ListedChips.empty());
    EXPECT_EQ(NoMatchDetail(p), "The connected chip is ATmega644P; this item lists no chip.");
}

// The firmware is read before the chip query, the processor entries after it: an edit made
// while the box answers is seen by the second read only.
TEST_F(Plan, FirmwareIsReadBeforeTheQueryAndTheEntriesAfterIt) {
    Folder.WriteCatalogue(Item);
    const UpdatePlan p =
        PlanItemUpdate(Folder.Reader(), Folder.Folder(), 4, "ttyUSB3", [&](const std::string&) {
            Folder.WriteCatalogue(
                "[ITEM_4]\nFirmware=other.hex\nProcessor_2=ATmega2560\n"
                "Fuse_Hi_2=0x99\n");
            return std::string("ATmega2560");
        });
    ASSERT_EQ(p.Result, UpdatePlan::Ready);
    EXPECT_EQ(p.Params.FirmwarePath, Folder.Folder() + "/Firmware/main.hex");
    EXPECT_EQ(p.Params.FuseHi, "0x99");
}
