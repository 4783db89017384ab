#pragma once
// Which message the player sees for a result of the update run.
#include "package/portable/update_result.h"

// The box's text (in the build's execution character set), or null for a
// cancel, a close of the dialog, or any value the run does not produce.
const char* OutcomeText(UpdateResult result);

// Whether that box is a warning rather than the information of success.
inline bool OutcomeIsWarning(UpdateResult result) { return result != UPDATE_OK; }
