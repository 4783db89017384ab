#include "entry/portable/outcome_text.h"

#include "ui/portable/texts.h"

namespace {

// The last value reported as a damaged package; the run never produces it, but
// it belongs to the same band of package failures.
constexpr UpdateResult DAMAGED_PACKAGE_LAST = 0x80000003;

}  // namespace

const char* OutcomeText(UpdateResult result) {
    if (result == UPDATE_OK) return TEXT_SUCCESS;
    if (result >= UPDATE_E_CORRUPT && result <= DAMAGED_PACKAGE_LAST) return TEXT_DAMAGED_PACKAGE;
    if (result == UPDATE_E_IO) return TEXT_OTHER_FAILURE;
    if (result == UPDATE_E_UNINSTALL_LIST) return TEXT_UNINSTALL_LIST_FAILURE;
    return nullptr;
}
