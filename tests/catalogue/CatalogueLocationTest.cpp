#include "catalogue/CatalogueLocation.h"

#include <gtest/gtest.h>

#include "tests/catalogue/CatalogueFolder.h"

namespace {
struct PathCase {
    const char* Executable;
    const char* Catalogue;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.Executable;
}

class CatalogueName : public testing::TestWithParam<PathCase> {};

TEST_P(CatalogueName, ReplacesOrAppendsTheExtension) {
    EXPECT_EQ(CataloguePathFor(GetParam().Executable), GetParam().Catalogue);
}

const PathCase PathCases[] = {
    {"/opt/q40/Q40Prog", "/opt/q40/Q40Prog.INI"},
    {"/opt/q40/Q40Prog.exe", "/opt/q40/Q40Prog.INI"},
    {"/opt/q40/Q40Prog.v2.bin", "/opt/q40/Q40Prog.v2.INI"},
    {"/opt/q40.d/Q40Prog", "/opt/q40.d/Q40Prog.INI"},
    {"/opt/q40/.Q40Prog", "/opt/q40/.Q40Prog.INI"},
    {"Q40Prog", "Q40Prog.INI"},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueName, testing::ValuesIn(PathCases));

TEST(CatalogueLocation, ProgramFolderHoldsFirmwareAndImages) {
    const CatalogueLocation at = LocationOfProgram("/opt/q40/Q40Prog");
    EXPECT_EQ(at.CatalogueFile, "/opt/q40/Q40Prog.INI");
    EXPECT_EQ(FirmwarePath(at.ProgramFolder, "main.hex"), "/opt/q40/Firmware/main.hex");
    EXPECT_EQ(ImagePath(at.ProgramFolder, "main.jpg"), "/opt/q40/Images/main.jpg");
}

TEST(CatalogueLocation, WindowsFolderSeparatorsBecomeSlashes) {
    EXPECT_EQ(FirmwarePath("/opt/q40", "old\\main.hex"), "/opt/q40/Firmware/old/main.hex");
}

TEST(CatalogueLocation, CommandLineFileOrTheOneBesideTheProgram) {
    const CatalogueLocation named = LocateCatalogue(std::string("cat/My.ini"), "/usr/bin/cli");
    EXPECT_EQ(named.CatalogueFile, "cat/My.ini");
    EXPECT_EQ(named.ProgramFolder, "cat");
    EXPECT_EQ(LocateCatalogue(std::string("My.ini"), "/usr/bin/cli").ProgramFolder, ".");
    const CatalogueLocation beside = LocateCatalogue(std::nullopt, "/usr/bin/q40prog-cli");
    EXPECT_EQ(beside.CatalogueFile, "/usr/bin/Q40Prog.INI");
    EXPECT_EQ(beside.ProgramFolder, "/usr/bin");
}

TEST(CatalogueLocation, OnlyAFileCountsAsExisting) {
    CatalogueFolder folder;
    folder.AddFirmware("main.hex");
    EXPECT_TRUE(IsExistingFile(FirmwarePath(folder.Folder(), "main.hex")));
    EXPECT_FALSE(IsExistingFile(FirmwarePath(folder.Folder(), "")));  // the folder itself
    EXPECT_FALSE(IsExistingFile(FirmwarePath(folder.Folder(), "other.hex")));
}
}  // namespace
