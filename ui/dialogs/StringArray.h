// Lists of heap strings that dialogs fill and empty again.
#pragma once

#include "core/Containers.h"
#include "core/RefString.h"

// Deletes every string of `array` (null entries are skipped) and sets its
// count to 0; the capacity stays for the next fill. `owner` is not used: it
// names who calls, as the dialogs that keep such lists do.
void DeleteStringArray(const void* owner, CGrowArray<CString*>* array);
