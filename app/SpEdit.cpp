#include "app/SpEdit.h"

#include "app/SyncSettings.h"
#include "toolkit/WinNames.h"

uint32_t TSpEdit::EditStyles() const {
  switch (FAlignment) {
    case taLeftJustify: return esMultiline;
    case taCenter: return esMultiline | esCenter;
    default: return esMultiline | esRight;
  }
}

int TSpEdit::RangedValue() const { return ClampInt(SpinTextValue(Text(), MinValue()), MinValue(), MaxValue()); }
