#include "catalogue/UpdatePlan.h"

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/ItemRunValues.h"

const char* const NoMatchText = "This item cannot be programmed using this selection!";

UpdatePlan PlanItemUpdate(const Catalogue& catalogue, const std::string& programFolder,
                          int itemNumber, const std::string& port, const ChipQuery& queryChip) {
    UpdatePlan plan;
    std::string firmwarePath = ItemFirmwarePath(catalogue, programFolder, itemNumber);
    plan.Chip = queryChip(port);
    if (plan.Chip.empty()) return plan;  // the query has said why
    const int entry = MatchProcessorEntry(catalogue, itemNumber, plan.Chip);
    if (entry == 0) {
        plan.Result = UpdatePlan::NoMatch;
        plan.ListedChips = ListedChips(catalogue, itemNumber);
        return plan;
    }
    const ItemRunValues values =
        ReadItemRunValues(catalogue, itemNumber, entry, std::move(firmwarePath));
    plan.Params =
        RunParams{values.FirmwarePath, values.FuseLo,        values.FuseHi, values.FuseEx,
                  values.Speed,        values.Bootloader,    port,          values.AllowIspLockout,
                  plan.Chip,           values.SerialLocation};
    plan.FirmwareIdText = catalogue.ReadValue(ItemSection(itemNumber), IdentifierKey, "");
    plan.Result = UpdatePlan::Ready;
    return plan;
}

std::string NoMatchDetail(const UpdatePlan& plan) {
    std::string detail = "The connected chip is " + plan.Chip + "; this item lists ";
    if (plan.ListedChips.empty()) return detail + "no chip.";
    for (std::size_t i = 0; i < plan.ListedChips.size(); ++i)
        detail += (i == 0 ? "" : ", ") + plan.ListedChips[i];
    return detail + ".";
}
