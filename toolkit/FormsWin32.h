// What the Win32 message loops need of the forms: the keyboard handling of modeless dialogs.
#pragma once

struct tagMSG;

// Gives the message to the dialog keyboard handling of a visible form (Tab, Enter, Escape);
// true when it was consumed and must not be dispatched again.
bool IsFormDialogMessage(tagMSG* msg);
