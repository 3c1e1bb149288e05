// The item tree as the main window builds it.
#include "catalogue/ItemTree.h"

#include <gtest/gtest.h>

#include "catalogue/Catalogue.h"
#include "tests/catalogue/CatalogueFolder.h"

namespace {
// "Group: n name; ..." for compact expectations.
std::string Render(const ItemTree& tree) {
    std::string out;
    for (const GroupNode& g : tree) {
        out += g.Name + ":";
        for (const ItemNode& i : g.Items) out += " " + std::to_string(i.ItemNumber) + " " + i.Name;
        out += "; ";
    }
    return out;
}

class ItemTreeBuild : public testing::Test {
protected:
    void SetUp() override {
        Folder.AddFirmware("fw.hex");
        Folder.AddFirmware("other.hex");
    }
    std::string Build(const std::string& text, bool production,
                      const TextLess& less = std::less<>()) const {
        Folder.WriteCatalogue(text);
        return Render(BuildItemTree(Folder.Reader(), Folder.Folder(), production, less));
    }
    CatalogueFolder Folder;
};

TEST_F(ItemTreeBuild, GroupsSortedItemsInNumberOrder) {
    const char* text =
        "[ITEM_9]\nNAME=nine\nGROUP=Zeta\nFirmware=fw.hex\n"
        "[ITEM_5]\nNAME=five\nGROUP=Alpha\nFirmware=fw.hex\n"
        "[ITEM_2]\nNAME=two\nGROUP=Zeta\nFirmware=fw.hex\n"
        "[ITEM_7]\nNAME=seven\nFirmware=fw.hex\n";
    EXPECT_EQ(Build(text, false), "Alpha: 5 five; Boards: 7 seven; Zeta: 2 two 9 nine; ");
}

TEST_F(ItemTreeBuild, GroupOrderComesFromTheGivenComparison) {
    const char* text =
        "[ITEM_1]\nNAME=a\nGROUP=alpha\nFirmware=fw.hex\n"
        "[ITEM_2]\nNAME=b\nGROUP=Beta\nFirmware=fw.hex\n";
    EXPECT_EQ(Build(text, false), "Beta: 2 b; alpha: 1 a; ");  // byte order
    const TextLess reversed = [](const std::string& a, const std::string& b) { return a > b; };
    EXPECT_EQ(Build(text, false, reversed), "alpha: 1 a; Beta: 2 b; ");
}

TEST_F(ItemTreeBuild, ProductionGroupOnlyInProductionMode) {
    const char* text =
        "[ITEM_1]\nNAME=upper\nGROUP=Production\nFirmware=fw.hex\n"
        "[ITEM_2]\nNAME=lower\nGROUP=production\nFirmware=fw.hex\n"
        "[ITEM_3]\nNAME=shout\nGROUP=PRODUCTION\nFirmware=fw.hex\n"
        "[ITEM_4]\nNAME=board\nFirmware=fw.hex\n";
    EXPECT_EQ(Build(text, false), "Boards: 4 board; ");
    // Group texts compare exactly: each spelling is a group of its own.
    EXPECT_EQ(Build(text, true),
              "Boards: 4 board; PRODUCTION: 3 shout; Production: 1 upper; "
              "production: 2 lower; ");
}

TEST_F(ItemTreeBuild, MissingFirmwareGoesUnderFileNotFoundWhateverTheGroup) {
    const char* text =
        "[ITEM_1]\nNAME=gone\nGROUP=Displays\nFirmware=gone.hex\n"
        "[ITEM_2]\nNAME=fixture\nGROUP=Production\nFirmware=gone.hex\n"
        "[ITEM_3]\nNAME=no firmware key\nGROUP=Displays\n"
        "[ITEM_4]\nNAME=here\nGROUP=Displays\nFirmware=other.hex\n";
    EXPECT_EQ(Build(text, false),
              "Displays: 4 here; File Not Found: 1 gone 2 fixture 3 no firmware key; ");
}

TEST_F(ItemTreeBuild, ItemKeepsNumberAndIdentifier) {
    Folder.WriteCatalogue("[ITEM_42]\nNAME=answer\nVERSION=AB1+5\nFirmware=fw.hex\n");
    const ItemTree tree = BuildItemTree(Folder.Reader(), Folder.Folder(), false, std::less<>());
    ASSERT_EQ(tree.size(), 1u);
    ASSERT_EQ(tree[0].Items.size(), 1u);
    EXPECT_EQ(tree[0].Items[0].ItemNumber, 42);
    EXPECT_EQ(tree[0].Items[0].Identifier, "AB1+5");
}

TEST(ItemTreeAdd, EmptyGroupIsBoardsAndNewGroupsGoLast) {
    ItemTree tree;
    AddItemNode(tree, 3, "three", "Zeta", "", false);
    AddItemNode(tree, 1, "one", "", "", false);
    AddItemNode(tree, 2, "two", "Zeta", "", false);
    EXPECT_EQ(Render(tree), "Zeta: 3 three 2 two; Boards: 1 one; ");
}

// A node of the tree built before the catalogue was replaced, found in the tree built after
// by what the user saw: group and name, never the item number.
TEST(ItemTreePlace, SameGroupAndNameOrNothing) {
    ItemTree before;
    AddItemNode(before, 1, "Main", "", "", false);
    AddItemNode(before, 2, "Twin", "", "", false);
    AddItemNode(before, 3, "Twin", "", "", false);
    AddItemNode(before, 4, "Panel", "Displays", "", false);
    AddItemNode(before, 5, "Keypad", "Displays", "", false);
    ItemTree after;
    AddItemNode(after, 4, "Main", "", "", false);             // renumbered, moved down
    AddItemNode(after, 7, "Twin", "", "", false);             // the first twin only
    AddItemNode(after, 2, "Panel 2", "Displays", "", false);  // Panel renamed
    AddItemNode(after, 1, "Keypad", "Displays", "", false);   // took number 1
    const struct {
        TreePlace At;
        std::optional<TreePlace> Found;
    } cases[] = {
        {{0, 0}, TreePlace{0, 0}},                        // Main, number 1 now 4
        {{0, 1}, TreePlace{0, 1}},                        // first Twin
        {{0, 2}, std::nullopt},                           // second Twin: gone
        {{1, 0}, std::nullopt},                           // Panel: renamed
        {{1, 1}, TreePlace{1, 1}},                        // Keypad, under the number Main had
        {{1, std::nullopt}, TreePlace{1, std::nullopt}},  // the group node
        {{0, 3}, std::nullopt},                           // no such node before
        {{2, std::nullopt}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.At.Group << "/" << (c.At.Item ? *c.At.Item : 99));
        EXPECT_EQ(SamePlace(before, c.At, after), c.Found);
    }
    // A group that is gone takes its items with it.
    ItemTree regrouped;
    AddItemNode(regrouped, 5, "Keypad", "Keypads", "", false);
    EXPECT_EQ(SamePlace(before, {1, 1}, regrouped), std::nullopt);
    EXPECT_EQ(SamePlace(before, {1, std::nullopt}, regrouped), std::nullopt);
}

// The example catalogue shipped with the tests, with its three firmware files.
TEST(ExampleCatalogue, TreeAsDescribed) {
    const std::string folder = Q40_EXAMPLE_FOLDER;
    const Catalogue catalogue(folder + "/Q40Prog.INI");
    EXPECT_EQ(Render(BuildItemTree(catalogue, folder, false, std::less<>())),
              "Boards: 1 Main controller; Displays: 3 Display board; ");
    EXPECT_EQ(Render(BuildItemTree(catalogue, folder, true, std::less<>())),
              "Boards: 1 Main controller; Displays: 3 Display board; Production: 8 Test fixture; ");
}
}  // namespace
