#pragma once
// The catalogue as the main window's tree shows it: groups at the top level, items below.
// Toolkit-free, so the window and the command line build the same tree.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Catalogue;

constexpr char DefaultGroup[] = "Boards";              // for an empty or missing GROUP
constexpr char ProductionGroup[] = "Production";       // listed only in production mode
constexpr char MissingFileGroup[] = "File Not Found";  // for an item without its firmware file

// What an item node keeps: its number, to read its section again, and its identifier
// pattern, for selection by firmware identifier.
struct ItemNode {
    int ItemNumber = 0;
    std::string Name;
    std::string Identifier;
};

struct GroupNode {
    std::string Name;
    std::vector<ItemNode> Items;  // in the order added: ascending item number
};

using ItemTree = std::vector<GroupNode>;

// Orders group names; the window passes its toolkit's locale-aware comparison.
using TextLess = std::function<bool(const std::string&, const std::string&)>;

// Adds one item under its group ("Boards" when empty), creating the group after the others
// when no group of exactly that name exists. Items of the group "Production" (any case) are
// left out unless productionMode.
void AddItemNode(ItemTree& tree, int itemNumber, const std::string& name, std::string group,
                 const std::string& identifier, bool productionMode);

// Every ITEM_<n> section with a NAME, n = 1 to 99; an item whose firmware file is missing is
// listed under "File Not Found". Groups are sorted with groupLess.
ItemTree BuildItemTree(const Catalogue& catalogue, const std::string& programFolder,
                       bool productionMode, const TextLess& groupLess);

// Where a node stands in a tree: a group node, or an item node of that group.
struct TreePlace {
    std::size_t Group = 0;
    std::optional<std::size_t> Item;  // none: the group node itself

    bool operator==(const TreePlace& o) const { return Group == o.Group && Item == o.Item; }
};

// The node of 'after' that shows what the node at 'at' of 'before' showed: the group of the
// same name and, for an item, the item of the same name in it (where several items of a
// group share a name, the one in the same rank among them). Nothing when 'after' has none
// or 'at' is no node of 'before'. Item numbers play no part: a renumbered item is the same
// item to the user, and a number taken over by another item is not.
std::optional<TreePlace> SamePlace(const ItemTree& before, const TreePlace& at,
                                   const ItemTree& after);
