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
