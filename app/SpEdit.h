// The dialog's spin edit: the toolkit's spin edit with a text alignment. The alignment picks
// the edit styles its window is created with (a multi-line edit, so that right and centred
// alignment take effect).
#pragma once

#include "toolkit/Controls.h"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TSpEdit : public TSpinEdit {
 public:
  using TSpinEdit::TSpinEdit;
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value) { FAlignment = value; }
  // esMultiline plus esRight or esCenter for the alignment.
  uint32_t EditStyles() const override;
  // The value in its range: the text as a number (MinValue when it is none), brought into
  // [MinValue, MaxValue] as leaving the control would.
  int RangedValue() const;

 private:
  TAlignment FAlignment = taRightJustify;
};
