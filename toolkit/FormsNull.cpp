// Without a window system a form is its model alone: the controls keep their values.
#include "toolkit/Forms.h"

std::unique_ptr<TFormPeer> CreateFormPeer(TForm&, int) { return nullptr; }
