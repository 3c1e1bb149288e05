// One catalogue saved the ways editors save it: Windows-1252, UTF-8 with and without a
// byte-order mark, UTF-16 little- and big-endian with a mark ("Unicode" on Windows). Every
// reader sees the same tree and the same values, umlauts included, and so does
// q40prog-cli items.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "catalogue/Catalogue.h"
#include "catalogue/InfoLines.h"
#include "catalogue/ItemRunValues.h"
#include "catalogue/ItemTree.h"
#include "tests/catalogue/CatalogueFolder.h"
#include "tests/support/TextEncodings.h"

namespace {
const std::string Text =
    "; Katalog für die Prüfung\n"
    "[VERSION]\n"
    "Info_1=Katalog vom März\n"
    "Info_2=Preis: 5 €\n"
    "[ITEM_1]\n"
    "NAME=Türsteuerung\n"
    "GROUP=Geräte\n"
    "VERSION=AB1+5\n"
    "Firmware=tür.hex\n"
    "Info_en_1=Door controller\n"
    "Info_ge_1=Steuerplatine der Türeinheit\n"
    "Info_ge_2=\"  Schlüssel übergeben  \"\n"
    "Processor_1=ATmega644P\n"
    "Fuse_Lo_1=0xD7\n"
    "Fuse_Hi_1=$D0\n"
    "Speed_1=20\n"
    "Bootloader_1=61440\n"
    "[ITEM_3]\n"
    "NAME=Anzeige ÄÖÜ ß\n"
    "GROUP=Geräte\n"
    "VERSION=AB305\n"
    "Firmware=display.bin\n"
    "Processor_1=ATmega128\n";

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

struct EncodingCase {
    const char* Name;
    std::string Bytes;
};

const EncodingCase Encodings[] = {
    {"Windows-1252, CR LF", textenc::Windows1252(WithCrLf(Text))},
    {"UTF-8", Text},
    {"UTF-8 with byte-order mark, CR LF", "\xEF\xBB\xBF" + WithCrLf(Text)},
    {"UTF-16 LE with byte-order mark, CR LF", textenc::Utf16(WithCrLf(Text), false)},
    {"UTF-16 BE with byte-order mark", textenc::Utf16(Text, true)},
};

// Everything the windows and the update take from the catalogue, on one page.
std::string EverythingRead(const CatalogueFolder& folder) {
    const Catalogue c = folder.Reader();
    std::string out = "tree:";
    for (const GroupNode& g : BuildItemTree(c, folder.Folder(), false, std::less<>())) {
        out += " " + g.Name + ":";
        for (const ItemNode& i : g.Items)
            out += " " + std::to_string(i.ItemNumber) + " " + i.Name + " [" + i.Identifier + "]";
    }
    out += "\nnotes:";
    for (const std::string& line : NoteLines(c)) out += " <" + line + ">";
    out += "\nge:";
    for (const std::string& line : DescriptionLines(c, 1, "ge")) out += " <" + line + ">";
    out += "\nen:";
    for (const std::string& line : DescriptionLines(c, 1, "en")) out += " <" + line + ">";
    out += "\nrun:";
    if (const auto v = RunValuesForChip(c, folder.Folder(), 1, "atmega644p"))
        out += " " + v->FirmwarePath.substr(folder.Folder().size()) + " " + v->FuseLo + " " +
               v->FuseHi + " <" + v->FuseEx + "> " + v->Speed + " " + v->Bootloader;
    return out;
}

std::string CliItems(const std::string& catalogue) {
    std::string out;
    FILE* pipe =
        popen((std::string(Q40PROG_CLI) + " items --catalogue '" + catalogue + "'").c_str(), "r");
    if (!pipe) return "popen failed";
    char chunk[512];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) out.append(chunk, n);
    return pclose(pipe) == 0 ? out : "exit code not 0: " + out;
}
}  // namespace

TEST(CatalogueEncodings, EveryEncodingReadsTheSame) {
    const std::string expected =
        "tree: Geräte: 1 Türsteuerung [AB1+5] 3 Anzeige ÄÖÜ ß [AB305]\n"
        "notes: <Katalog vom März> <Preis: 5 €>\n"
        "ge: <Steuerplatine der Türeinheit> <  Schlüssel übergeben  >\n"
        "en: <Door controller>\n"
        "run: /Firmware/tür.hex 0xD7 $D0 <> 20 61440";
    const std::string expectedItems =
        "Geräte\n"
        "   1  Türsteuerung  [AB1+5]\n"
        "   3  Anzeige ÄÖÜ ß  [AB305]\n";
    for (const EncodingCase& c : Encodings) {
        SCOPED_TRACE(c.Name);
        CatalogueFolder folder;
        folder.AddFirmware("tür.hex");
        folder.AddFirmware("display.bin");
        folder.WriteCatalogue(c.Bytes);
        EXPECT_EQ(EverythingRead(folder), expected);
        EXPECT_EQ(CliItems(folder.CataloguePath()), expectedItems);
    }
}

// A file that breaks its own encoding still reads: what is whole stays, the rest becomes
// U+FFFD, and the lines around it are found as before.
TEST(CatalogueEncodings, BrokenTextGivesReplacementCharacters) {
    const struct {
        const char* Name;
        std::string Bytes;
    } cases[] = {
        {"UTF-16 LE, lone high surrogate", textenc::Utf16("[ITEM_1]\nNAME=T", false) +
                                               std::string("\x00\xD8", 2) +
                                               textenc::Utf16("r\nGROUP=G\n", false, false)},
        {"UTF-16 BE, lone low surrogate", textenc::Utf16("[ITEM_1]\nNAME=T", true) +
                                              std::string("\xDC\x00", 2) +
                                              textenc::Utf16("r\nGROUP=G\n", true, false)},
        {"UTF-8 with mark, a byte that is no UTF-8",
         "\xEF\xBB\xBF[ITEM_1]\nNAME=T\xFFr\nGROUP=G\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CatalogueFolder folder;
        folder.WriteCatalogue(c.Bytes);
        EXPECT_EQ(folder.Reader().ReadValue("ITEM_1", "NAME", "-"), "T\xEF\xBF\xBDr");
        EXPECT_EQ(folder.Reader().ReadValue("ITEM_1", "GROUP", "-"), "G");
    }
    CatalogueFolder odd;
    odd.WriteCatalogue(textenc::Utf16("[ITEM_1]\nNAME=x", false) + "y");
    EXPECT_EQ(odd.Reader().ReadValue("ITEM_1", "NAME", "-"), "x\xEF\xBF\xBD");
}

// Without a mark, UTF-16 is not recognised: its NUL bytes keep every name from matching.
TEST(CatalogueEncodings, Utf16WithoutAMarkStaysUnread) {
    CatalogueFolder folder;
    folder.WriteCatalogue(textenc::Utf16("[ITEM_1]\nNAME=x\n", false, false));
    EXPECT_FALSE(folder.Reader().HasKey("ITEM_1", "NAME"));
}
