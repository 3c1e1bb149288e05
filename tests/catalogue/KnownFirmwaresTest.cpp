// The catalogue's items as a device read recognises them: every item, production ones too,
// with the application length of the processor entry that names the chip.
#include "catalogue/KnownFirmwares.h"

#include <gtest/gtest.h>

#include "tests/catalogue/CatalogueFolder.h"

TEST(KnownFirmwares, EveryItemWithTheLengthOfTheEntryNamingTheChip) {
    CatalogueFolder folder;
    folder.WriteCatalogue(
        "[ITEM_7]\nNAME=Fixture\nGROUP=Production\nVERSION=FX7+1\nFirmware=fx.hex\n"
        "Processor_1=ATmega644P\nBootloader_1=$F000\n"
        "[ITEM_2]\nNAME=Main\nVERSION=AB2+5\nFirmware=main.bin\n"
        "Processor_1=ATmega644P\nBootloader_1=1000\nProcessor_2=atmega644p\nBootloader_2=61440\n"
        "[ITEM_3]\nVERSION=NO3+0\n"  // no NAME: no item
        "[ITEM_4]\nNAME=Other\nVERSION=OT4+0\nProcessor_1=ATmega2560\nBootloader_1=9\n");
    const std::vector<KnownFirmware> known =
        KnownFirmwaresFor(folder.Reader(), folder.Folder(), "ATmega644P");
    ASSERT_EQ(known.size(), 3u);
    EXPECT_EQ(known[0].Item, 2);
    EXPECT_EQ(known[0].Name, "Main");
    EXPECT_EQ(known[0].Pattern, "AB2+5");
    EXPECT_EQ(known[0].FirmwarePath, folder.Folder() + "/Firmware/main.bin");
    EXPECT_EQ(known[0].ApplicationLength, "61440");  // the last entry naming the chip
    EXPECT_EQ(known[1].Item, 4);
    EXPECT_EQ(known[1].ApplicationLength, "");  // no entry names this chip
    EXPECT_EQ(known[2].Item, 7);
    EXPECT_EQ(known[2].ApplicationLength, "$F000");
}
