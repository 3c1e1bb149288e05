#include "catalogue/ItemTree.h"

#include <algorithm>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/TextCase.h"

namespace {
GroupNode& ParentGroup(ItemTree& tree, const std::string& group) {
    // Group texts compare exactly: "production" and "Production" are two groups.
    const auto it =
        std::find_if(tree.begin(), tree.end(), [&](const GroupNode& g) { return g.Name == group; });
    if (it != tree.end()) return *it;
    tree.push_back({group, {}});
    return tree.back();
}

// Which of the items named like items[index] it is, counted from 0.
std::size_t RankAmongNamesakes(const std::vector<ItemNode>& items, std::size_t index) {
    std::size_t rank = 0;
    for (std::size_t i = 0; i < index; ++i)
        if (items[i].Name == items[index].Name) ++rank;
    return rank;
}
}  // namespace

void AddItemNode(ItemTree& tree, int itemNumber, const std::string& name, std::string group,
                 const std::string& identifier, bool productionMode) {
    if (group.empty()) group = DefaultGroup;
    if (!productionMode && EqualNoCase(group, ProductionGroup)) return;
    ParentGroup(tree, group).Items.push_back({itemNumber, name, identifier});
}

ItemTree BuildItemTree(const Catalogue& catalogue, const std::string& programFolder,
                       bool productionMode, const TextLess& groupLess) {
    ItemTree tree;
    for (int n = FirstItemNumber; n <= LastItemNumber; ++n) {
        const std::string section = ItemSection(n);
        if (!catalogue.HasKey(section, NameKey)) continue;
        const std::string name = catalogue.ReadValue(section, NameKey, "");
        const std::string group = catalogue.ReadValue(section, GroupKey, "");
        const std::string identifier = catalogue.ReadValue(section, IdentifierKey, "");
        const std::string firmware =
            FirmwarePath(programFolder, catalogue.ReadValue(section, FirmwareKey, ""));
        AddItemNode(tree, n, name, IsExistingFile(firmware) ? group : MissingFileGroup, identifier,
                    productionMode);
    }
    std::stable_sort(tree.begin(), tree.end(), [&](const GroupNode& a, const GroupNode& b) {
        return groupLess(a.Name, b.Name);
    });
    return tree;
}

std::optional<TreePlace> SamePlace(const ItemTree& before, const TreePlace& at,
                                   const ItemTree& after) {
    if (at.Group >= before.size()) return std::nullopt;
    const GroupNode& oldGroup = before[at.Group];
    const auto group = std::find_if(after.begin(), after.end(),
                                    [&](const GroupNode& g) { return g.Name == oldGroup.Name; });
    if (group == after.end()) return std::nullopt;
    TreePlace place{static_cast<std::size_t>(group - after.begin()), std::nullopt};
    if (!at.Item) return place;
    if (*at.Item >= oldGroup.Items.size()) return std::nullopt;
    const std::string& name = oldGroup.Items[*at.Item].Name;
    std::size_t rank = RankAmongNamesakes(oldGroup.Items, *at.Item);
    for (std::size_t i = 0; i < group->Items.size(); ++i) {
        if (group->Items[i].Name != name) continue;
        if (rank-- == 0) {
            place.Item = i;
            return place;
        }
    }
    return std::nullopt;
}
