#include "toolkit/MessageWin32.h"

namespace {

TDialogMessageHandler DialogMessageHandler = nullptr;

}  // namespace

void SetDialogMessageHandler(TDialogMessageHandler handler) { DialogMessageHandler = handler; }

bool IsFormDialogMessage(tagMSG* msg) { return DialogMessageHandler && DialogMessageHandler(msg); }
