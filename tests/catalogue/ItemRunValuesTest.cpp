// What an update takes from the catalogue for the connected chip.
#include "catalogue/ItemRunValues.h"

#include <gtest/gtest.h>

#include "catalogue/Catalogue.h"
#include "tests/catalogue/CatalogueFolder.h"

namespace {
class RunValues : public testing::Test {
protected:
    std::optional<ItemRunValues> For(const std::string& text, const std::string& chip) {
        Folder.WriteCatalogue(text);
        return RunValuesForChip(Folder.Reader(), Folder.Folder(), 1, chip);
    }
    CatalogueFolder Folder;
};

TEST_F(RunValues, LastMatchingEntryWinsWithoutRegardToCase) {
    const auto v =
        For("[ITEM_1]\nFirmware=main.hex\n"
            "Processor_1=ATmega644\nFuse_Lo_1=0xD7\nFuse_Hi_1=0xD0\nSpeed_1=20\n"
            "Processor_3=atmega644\nFuse_Lo_3=$E2\nFuse_Hi_3=0xD9\nFuse_Ex_3=0xFF\nSpeed_3=30\n"
            "Bootloader_3=61440\n",
            "ATmega644");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->FirmwarePath, Folder.Folder() + "/Firmware/main.hex");
    EXPECT_EQ(v->FuseLo, "$E2");
    EXPECT_EQ(v->FuseHi, "0xD9");
    EXPECT_EQ(v->FuseEx, "0xFF");
    EXPECT_EQ(v->Speed, "30");
    EXPECT_EQ(v->Bootloader, "61440");
}

TEST_F(RunValues, MissingKeysOfTheEntryAreEmpty) {
    const auto v =
        For("[ITEM_1]\nProcessor_1=ATmega128\nFuse_Hi_1=0xD0\n"
            "Processor_2=ATmega644P\nFuse_Lo_2=0xD7\n",
            "ATMEGA644P");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->FuseLo, "0xD7");
    EXPECT_EQ(v->FuseHi, "");  // entry 1's high fuse is not borrowed
    EXPECT_EQ(v->FuseEx, "");
    EXPECT_EQ(v->Speed, "");
    EXPECT_EQ(v->Bootloader, "");
}

TEST_F(RunValues, LockoutPermissionIsYesInAnyCaseForThatEntryOnly) {
    const struct {
        const char* value;
        bool allowed;
    } cases[] = {{"YES", true}, {"yes", true}, {"Yes", true}, {" yes ", true},
                 {"no", false}, {"1", false},  {"", false},   {"YES!", false}};
    for (const auto& c : cases) {
        const auto v = For(std::string("[ITEM_1]\nProcessor_1=ATmega644P\nLockout_2=YES\n"
                                       "Processor_3=ATmega644P\nLockout_3=") +
                               c.value + "\n",
                           "ATmega644P");
        ASSERT_TRUE(v);
        EXPECT_EQ(v->AllowIspLockout, c.allowed) << "'" << c.value << "'";
    }
    EXPECT_FALSE(
        For("[ITEM_1]\nProcessor_1=ATmega644P\nLockout_2=YES\n", "ATmega644P")->AllowIspLockout);
}

TEST_F(RunValues, NoEntryForTheChip) {
    EXPECT_FALSE(For("[ITEM_1]\nProcessor_1=ATmega644P\n", "ATmega644"));
    EXPECT_FALSE(For("[ITEM_1]\nFirmware=main.hex\n", "ATmega644"));
    EXPECT_FALSE(For("[ITEM_2]\nProcessor_1=ATmega644\n", "ATmega644"));
}

TEST_F(RunValues, FailedChipQueryMatchesNoEmptyEntry) {
    EXPECT_FALSE(For("[ITEM_1]\nProcessor_1=\n", ""));
}

TEST(ExampleCatalogueRun, SecondChipGetsItsOwnValues) {
    const std::string folder = Q40_EXAMPLE_FOLDER;
    const Catalogue catalogue(folder + "/Q40Prog.INI");
    const auto v = RunValuesForChip(catalogue, folder, 1, "ATmega644");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->FirmwarePath, folder + "/Firmware/main_ctrl.hex");
    EXPECT_EQ(v->FuseLo, "0xD7");
    EXPECT_EQ(v->FuseHi, "");
    EXPECT_EQ(v->Bootloader, "61440");
}
}  // namespace
