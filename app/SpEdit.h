// The dialog's spin edit: the toolkit's spin edit with its text aligned right (a multi-line
// edit, so that the right alignment takes effect).
#pragma once

#include "toolkit/Controls.h"

class TSpEdit : public TSpinEdit {
 public:
  using TSpinEdit::TSpinEdit;
  // esMultiline | esRight.
  uint32_t EditStyles() const override;
  // The value in its range: the text as a number (MinValue when it is none), brought into
  // [MinValue, MaxValue] as leaving the control would.
  int RangedValue() const;
};
