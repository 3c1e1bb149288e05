// The reading rules of the catalogue, one small catalogue per case, seen the way the
// program's readers see it: a value, the item tree, description lines, the processor match.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "catalogue/Catalogue.h"
#include "catalogue/InfoLines.h"
#include "catalogue/IniText.h"
#include "catalogue/ItemRunValues.h"
#include "catalogue/ItemTree.h"
#include "tests/catalogue/CatalogueFolder.h"

namespace {
using View = std::function<std::string(const CatalogueFolder&)>;

timespec ModifiedAt(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

void SetModified(const std::string& path, const timespec& when) {
    const timespec times[2] = {when, when};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// NAME of ITEM_1 as <value>, or "missing".
std::string Item1Name(const CatalogueFolder& f) {
    const Catalogue c = f.Reader();
    if (!c.HasKey("ITEM_1", "NAME")) return "missing";
    return "<" + c.ReadValue("ITEM_1", "NAME", "default") + ">";
}

// The identifier as the tree reads it and as the item details read it.
std::string Item1Version(const CatalogueFolder& f) {
    const Catalogue c = f.Reader();
    return c.ReadValue("ITEM_1", "VERSION", "-") + " / " + c.ReadValue("ITEM_1", "Version", "-");
}

// "Group: n name [id]; ..." without production mode.
std::string Tree(const CatalogueFolder& f) {
    std::string out;
    for (const GroupNode& g : BuildItemTree(f.Reader(), f.Folder(), false, std::less<>())) {
        out += g.Name + ":";
        for (const ItemNode& i : g.Items)
            out += " " + std::to_string(i.ItemNumber) + " " + i.Name + " [" + i.Identifier + "]";
        out += "; ";
    }
    return out;
}

std::string Item1English(const CatalogueFolder& f) {
    std::string out;
    for (const std::string& line : DescriptionLines(f.Reader(), 1, "en")) out += "<" + line + ">";
    return out;
}

std::string Item1EntryForAtmega644(const CatalogueFolder& f) {
    return std::to_string(MatchProcessorEntry(f.Reader(), 1, "ATmega644"));
}

struct RuleCase {
    const char* Title;
    const char* Text;
    View See;
    const char* Expected;
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.Title;
}

class CatalogueRules : public testing::TestWithParam<RuleCase> {};

TEST_P(CatalogueRules, ReadAsTheProgramSeesIt) {
    const RuleCase& c = GetParam();
    CatalogueFolder folder;
    folder.AddFirmware("fw.hex");
    folder.WriteCatalogue(c.Text);
    EXPECT_EQ(c.See(folder), c.Expected) << c.Title;
}

const RuleCase RuleCases[] = {
    // Names and their case.
    {"key in lower case is found as VERSION and Version", "[ITEM_1]\nversion=AB1+5\n", Item1Version,
     "AB1+5 / AB1+5"},
    {"of two spellings of one key the first counts for both",
     "[ITEM_1]\nVERSION=AB100\nVersion=AB200\n", Item1Version, "AB100 / AB100"},
    {"of two occurrences of a section the first counts",
     "[ITEM_1]\nVERSION=AB100\n[item_1]\nVERSION=AB200\nNAME=late\n", Item1Version,
     "AB100 / AB100"},
    {"a NAME only in a repeated section makes no item",
     "[ITEM_1]\nFirmware=fw.hex\n[ITEM_1]\nNAME=late\n", Tree, ""},
    {"section names ignore case", "[item_1]\nNAME=One\nFirmware=fw.hex\n", Tree,
     "Boards: 1 One []; "},
    {"a missing key reads as the default", "[ITEM_1]\nGROUP=x\n", Item1Version, "- / -"},
    // Which sections are items.
    {"ITEM_0, ITEM_100 and ITEM_01 are never read",
     "[ITEM_0]\nNAME=zero\nFirmware=fw.hex\n[ITEM_100]\nNAME=hundred\nFirmware=fw.hex\n"
     "[ITEM_01]\nNAME=padded\nFirmware=fw.hex\n[ITEM_2]\nNAME=two\nFirmware=fw.hex\n",
     Tree, "Boards: 2 two []; "},
    {"a section without NAME is no item",
     "[ITEM_1]\nGROUP=G\nVERSION=AB100\nFirmware=fw.hex\n[ITEM_2]\nNAME=two\nFirmware=fw.hex\n",
     Tree, "Boards: 2 two []; "},
    {"an empty NAME makes an item with an empty text", "[ITEM_1]\nNAME=\nFirmware=fw.hex\n", Tree,
     "Boards: 1  []; "},
    {"a GROUP of blanks only goes under Boards", "[ITEM_1]\nNAME=one\nGROUP=   \nFirmware=fw.hex\n",
     Tree, "Boards: 1 one []; "},
    // Description lines and processor entries.
    {"an empty Info line is a line, a missing one is none",
     "[ITEM_1]\nInfo_en_1=first\nInfo_en_2=\nInfo_en_4=fourth\nInfo_ge_3=dritte\n", Item1English,
     "<first><><fourth>"},
    {"Info_en_99 is the last line read", "[ITEM_1]\nInfo_en_99=last\nInfo_en_100=never\n",
     Item1English, "<last>"},
    {"Processor_10 is never read", "[ITEM_1]\nProcessor_10=ATmega644\n", Item1EntryForAtmega644,
     "0"},
    {"a gap in the processor entries does not end the walk",
     "[ITEM_1]\nProcessor_1=ATmega32\nProcessor_3=ATmega644\n", Item1EntryForAtmega644, "3"},
    // Blanks, quotes and comments.
    {"blanks around names and values do not count", "  [ ITEM_1 ]  \n\t NAME \t= \t Main  \n",
     Item1Name, "<Main>"},
    {"double quotes are removed", "[ITEM_1]\nNAME = \"Main controller\" \n", Item1Name,
     "<Main controller>"},
    {"blanks inside quotes stay", "[ITEM_1]\nNAME=\"  padded  \"\n", Item1Name, "<  padded  >"},
    {"single quotes are removed", "[ITEM_1]\nNAME='single'\n", Item1Name, "<single>"},
    {"only one pair of quotes is removed", "[ITEM_1]\nNAME=\"\"twice\"\"\n", Item1Name,
     "<\"twice\">"},
    {"quotes of two kinds stay", "[ITEM_1]\nNAME=\"mixed'\n", Item1Name, "<\"mixed'>"},
    {"a lone quote stays", "[ITEM_1]\nNAME=\"\n", Item1Name, "<\">"},
    {"an empty value is present", "[ITEM_1]\nNAME=\n", Item1Name, "<>"},
    {"a pair of quotes is an empty value", "[ITEM_1]\nNAME=''\n", Item1Name, "<>"},
    {"an equals sign inside the value stays", "[ITEM_1]\nNAME=a=b\n", Item1Name, "<a=b>"},
    {"a comment line sets nothing", "[ITEM_1]\n  ;NAME=hidden\n", Item1Name, "missing"},
    {"a semicolon inside a value stays", "[ITEM_1]\nNAME=a ; b\n", Item1Name, "<a ; b>"},
    {"a key before any section belongs to none", "NAME=orphan\n[ITEM_1]\n", Item1Name, "missing"},
    {"a line without an equals sign is skipped", "[ITEM_1]\nNAME\nNAME=after\n", Item1Name,
     "<after>"},
    // Line ends and the byte-order mark.
    {"CRLF line ends", "[ITEM_1]\r\nNAME=crlf\r\nGROUP=g\r\n", Item1Name, "<crlf>"},
    {"CR line ends", "[ITEM_1]\rNAME=cr\r", Item1Name, "<cr>"},
    {"no line end after the last value", "[ITEM_1]\nNAME=last", Item1Name, "<last>"},
    {"a UTF-8 byte-order mark before the first section", "\xEF\xBB\xBF[ITEM_1]\nNAME=bom\n",
     Item1Name, "<bom>"},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueRules, testing::ValuesIn(RuleCases));

class CatalogueFile : public testing::Test {
protected:
    CatalogueFolder Folder;
};

TEST_F(CatalogueFile, WindowsCodePageUmlautsReadAsUtf8) {
    Folder.WriteCatalogue(
        "[ITEM_1]\r\nInfo_ge_1=T\xFCren \xF6\x66\x66nen, Gr\xF6\xDF\x65 \xC4ndern\r\n");
    EXPECT_EQ(DescriptionLines(Folder.Reader(), 1, "ge"),
              std::vector<std::string>{"Türen öffnen, Größe Ändern"});
}

TEST_F(CatalogueFile, Utf8UmlautsStayUtf8) {
    Folder.WriteCatalogue("\xEF\xBB\xBF[ITEM_1]\nInfo_ge_1=Türen öffnen\n");
    EXPECT_EQ(DescriptionLines(Folder.Reader(), 1, "ge"), std::vector<std::string>{"Türen öffnen"});
}

TEST_F(CatalogueFile, WindowsCodePageNamesOutsideAsciiAreFound) {
    Folder.WriteCatalogue("[Gr\xF6\xDF\x65]\nL\xE4nge=12\n");
    EXPECT_EQ(Folder.Reader().ReadValue("GRÖSSE", "Länge", "-"), "-");  // only ASCII folds
    EXPECT_EQ(Folder.Reader().ReadValue("Größe", "Länge", "-"), "12");
}

struct LongValueCase {
    const char* Title;
    std::string Character;  // as written to the file
    std::string Utf8;       // as read back
};

void PrintTo(const LongValueCase& c, std::ostream* os) {
    *os << c.Title;
}

class LongValue : public testing::TestWithParam<LongValueCase> {};

TEST_P(LongValue, IsCutAt2047Characters) {
    const LongValueCase& c = GetParam();
    std::string written, expected;
    for (int i = 0; i < 3000; ++i) written += c.Character;
    for (std::size_t i = 0; i < MaxIniValueChars; ++i) expected += c.Utf8;
    CatalogueFolder folder;
    folder.WriteCatalogue("[ITEM_1]\nNAME=\"" + written + "\"\n");
    EXPECT_EQ(folder.Reader().ReadValue("ITEM_1", "NAME", ""), expected);
}

const LongValueCase LongValueCases[] = {
    {"ASCII", "a", "a"},
    {"UTF-8 umlaut", "\xC3\xA4", "\xC3\xA4"},
    {"Windows-1252 umlaut", "\xE4", "\xC3\xA4"},
    {"Windows-1252 euro sign", "\x80", "\xE2\x82\xAC"},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, LongValue, testing::ValuesIn(LongValueCases));

TEST_F(CatalogueFile, EditIsSeenByTheNextRead) {
    const Catalogue catalogue = Folder.Reader();
    Folder.WriteCatalogue("[ITEM_1]\nNAME=before\n");
    EXPECT_EQ(catalogue.ReadValue("ITEM_1", "NAME", ""), "before");
    Folder.WriteCatalogue("[ITEM_1]\nNAME=after\n");
    EXPECT_EQ(catalogue.ReadValue("ITEM_1", "NAME", ""), "after");
}

// The catalogue is parsed once and the parse kept while the file keeps its identity, size and
// modification time; whatever an edit changes of those, the next read sees the edit.
TEST_F(CatalogueFile, EveryChangeOfTheFileIsSeenByTheNextRead) {
    const std::string path = Folder.CataloguePath();
    const Catalogue catalogue = Folder.Reader();
    const auto name = [&] { return catalogue.ReadValue("ITEM_1", "NAME", "-"); };
    Folder.WriteCatalogue("[ITEM_1]\nNAME=before\n");
    EXPECT_EQ(name(), "before");
    const timespec first = ModifiedAt(path);

    // Rewritten in place with the same size: the time stamp tells, to the nanosecond.
    Folder.WriteCatalogue("[ITEM_1]\nNAME=BEFORE\n");
    SetModified(path, {first.tv_sec, first.tv_nsec == 0 ? 1 : first.tv_nsec - 1});
    EXPECT_EQ(name(), "BEFORE");

    // Replaced by another file of the same size and time stamp: its identity tells.
    const timespec second = ModifiedAt(path);
    const std::string other = Folder.Folder() + "/new.INI";
    std::ofstream(other, std::ios::binary) << "[ITEM_1]\nNAME=beFORE\n";
    SetModified(other, second);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(name(), "beFORE");

    // Gone, then back.
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(name(), "-");
    Folder.WriteCatalogue("[ITEM_1]\nNAME=again\n");
    EXPECT_EQ(name(), "again");

    // What keeping the parse rests on: an edit that left identity, size and time stamp as
    // they were would not be seen. Every write moves the time stamp, so none does.
    const timespec kept = ModifiedAt(path);
    Folder.WriteCatalogue("[ITEM_1]\nNAME=AGAIN\n");
    SetModified(path, kept);
    EXPECT_EQ(name(), "again");
}

// A held reader keeps giving what the file held when it was taken; the live reader tells
// whether the file has changed since, by every change the parse is kept for, and only then.
TEST_F(CatalogueFile, HeldReaderKeepsItsContentAndTheLiveOneTellsOfEveryChange) {
    const std::string path = Folder.CataloguePath();
    const Catalogue live = Folder.Reader();
    Folder.WriteCatalogue("[ITEM_1]\nNAME=first\n");
    Catalogue held = live.Held();
    EXPECT_FALSE(live.ChangedSince(held));
    EXPECT_FALSE(live.ChangedSince(held));             // reading again changes nothing
    EXPECT_FALSE(Folder.Reader().ChangedSince(held));  // another reader of the same file

    const struct {
        const char* Change;
        std::function<void()> Make;
        std::string Name;  // ITEM_1's NAME afterwards; "-" when missing
    } changes[] = {
        {"rewritten in place, same size, time stamp moved",
         [&] {
             const timespec before = ModifiedAt(path);
             Folder.WriteCatalogue("[ITEM_1]\nNAME=FIRST\n");
             SetModified(path, {before.tv_sec, before.tv_nsec == 0 ? 1 : before.tv_nsec - 1});
         },
         "FIRST"},
        {"replaced by another file of the same size and time stamp",
         [&] {
             const timespec before = ModifiedAt(path);
             const std::string other = Folder.Folder() + "/new.INI";
             std::ofstream(other, std::ios::binary) << "[ITEM_1]\nNAME=fIRST\n";
             SetModified(other, before);
             ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
         },
         "fIRST"},
        {"removed", [&] { ASSERT_EQ(std::remove(path.c_str()), 0); }, "-"},
        {"created", [&] { Folder.WriteCatalogue("[ITEM_1]\nNAME=back\n"); }, "back"},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.Change);
        const std::string before = held.ReadValue("ITEM_1", "NAME", "-");
        c.Make();
        EXPECT_TRUE(live.ChangedSince(held));
        EXPECT_EQ(held.ReadValue("ITEM_1", "NAME", "-"), before);
        EXPECT_EQ(live.ReadValue("ITEM_1", "NAME", "-"), c.Name);
        held = live.Held();
        EXPECT_FALSE(live.ChangedSince(held));
        EXPECT_EQ(held.ReadValue("ITEM_1", "NAME", "-"), c.Name);
    }

    // A missing file stays as it was while it stays missing.
    ASSERT_EQ(std::remove(path.c_str()), 0);
    held = live.Held();
    EXPECT_FALSE(live.ChangedSince(held));
    EXPECT_EQ(held.Problem(), "catalogue " + path + " not found");
}

TEST_F(CatalogueFile, MissingFileReadsAsEmptyAndSaysSo) {
    const Catalogue catalogue = Folder.Reader();
    EXPECT_FALSE(catalogue.HasKey("ITEM_1", "NAME"));
    EXPECT_EQ(catalogue.ReadValue("ITEM_1", "NAME", "default"), "default");
    EXPECT_TRUE(BuildItemTree(catalogue, Folder.Folder(), true, std::less<>()).empty());
    EXPECT_EQ(catalogue.Problem(), "catalogue " + Folder.CataloguePath() + " not found");
}

TEST_F(CatalogueFile, FolderInPlaceOfTheFileIsNamed) {
    const Catalogue catalogue(Folder.Folder());
    EXPECT_FALSE(catalogue.HasKey("ITEM_1", "NAME"));
    EXPECT_NE(catalogue.Problem().find("is a folder"), std::string::npos);
}

TEST_F(CatalogueFile, ReadableFileHasNoProblem) {
    Folder.WriteCatalogue("");
    EXPECT_EQ(Folder.Reader().Problem(), "");
}

TEST_F(CatalogueFile, NotesComeFromTheVersionSection) {
    Folder.WriteCatalogue("[ITEM_1]\nInfo_1=item\n[Version]\nINFO_1=first\nInfo_3=third\n");
    EXPECT_EQ(NoteLines(Folder.Reader()), (std::vector<std::string>{"first", "third"}));
}
}  // namespace
