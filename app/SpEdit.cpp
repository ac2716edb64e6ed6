#include "app/SpEdit.h"

#include "app/SyncSettings.h"
#include "toolkit/WinNames.h"

uint32_t TSpEdit::EditStyles() const { return esMultiline | esRight; }

int TSpEdit::RangedValue() const { return ClampInt(SpinTextValue(Text(), MinValue()), MinValue(), MaxValue()); }
