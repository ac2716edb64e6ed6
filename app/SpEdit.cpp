#include "app/SpEdit.h"

#include "app/SyncSettings.h"

uint32_t TSpEdit::EditStyles() const {
  switch (FAlignment) {
    case taLeftJustify: return 4;
    case taCenter: return 4 | 1;
    default: return 4 | 2;
  }
}

int TSpEdit::RangedValue() const { return ClampInt(SpinTextValue(Text(), MinValue()), MinValue(), MaxValue()); }
