// items: the catalogue tree as the main window shows it.
#include <cstdio>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/ItemTree.h"
#include "catalogue/LocaleOrder.h"
#include "cli/Command.h"

namespace {
const char* const ItemsHelp =
    "  --catalogue FILE  the catalogue; its folder holds Firmware/ and Images/\n"
    "                    (default: Q40Prog.INI beside q40prog-cli)\n"
    "  --production      list the group Production too\n"
    "\nOne line per group, then one indented line per item: number, name, [identifier].\n"
    "Items whose firmware file is missing are listed under \"File Not Found\".\n";

void PrintTree(const ItemTree& tree) {
    for (const GroupNode& group : tree) {
        std::printf("%s\n", group.Name.c_str());
        for (const ItemNode& item : group.Items)
            std::printf("  %2d  %s  [%s]\n", item.ItemNumber, item.Name.c_str(),
                        item.Identifier.c_str());
    }
}

int RunItems(const Command& self, const Args& args) {
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const auto option = args.Option("--catalogue");
    if (option && option->empty()) return UsageError(self, "--catalogue needs a file name");
    const CatalogueLocation where = LocateCatalogue(option, OwnExecutablePath());
    const Catalogue catalogue(where.CatalogueFile);
    if (const std::string problem = catalogue.Problem(); !problem.empty())
        return Failure(option ? problem : problem + "; name the catalogue with --catalogue FILE");
    const ItemTree tree =
        BuildItemTree(catalogue, where.ProgramFolder, args.Flag("--production"), UserLocaleLess());
    if (tree.empty()) std::fprintf(stderr, "no items in %s\n", where.CatalogueFile.c_str());
    PrintTree(tree);
    return ExitOk;
}

const RegisterCommand reg({"items",
                           "[--catalogue FILE] [--production]",
                           "List the catalogue's items as the main window's tree shows them.",
                           ItemsHelp,
                           {"--catalogue"},
                           {"--production"},
                           RunItems});
}  // namespace
