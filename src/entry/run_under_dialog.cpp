#include "entry/run_under_dialog.h"

#include <new>

#include "entry/outcome.h"
#include "entry/program_names.h"
#include "install/update_run.h"
#include "ui/monitor_list.h"
#include "ui/portable/texts.h"
#include "ui/progress_controls.h"

namespace {

// Running out of memory ends the run as an install failure, not as a crash.
UpdateResult RunGuarded(const char* installFolder) {
    try {
        return UpdateRun(installFolder);
    } catch (const std::bad_alloc&) {
        return UPDATE_E_IO;
    }
}

}  // namespace

int RunUnderDialog(HINSTANCE instance, int showCommand, const char* installFolder) {
    if (!CreateProgressDialog(instance)) {
        ShowWarning(TEXT_DIALOG_FAILURE);
        return EXIT_NO_DIALOG;
    }
    EnumerateMonitors();
    ShowProgressDialog(showCommand);
    const UpdateResult result = RunGuarded(installFolder);
    DestroyProgressDialog();
    ReportOutcome(result);
    FreeMonitorList();
    return static_cast<int>(result);
}
