// The one adapter between a window procedure of ours and the program: the system's message as
// a TMessage record, handed to the program's handler, with no exception let through the
// system's frames (they go to the application's handler, as the runtime's window procedures do);
// and the dialog keyboard handling that the message loops ask first.
#pragma once

#include <cstdint>
#include <exception>

#include "toolkit/Application.h"

struct tagMSG;

// The keyboard handling of modeless dialogs (Tab, Enter, Escape), which the message loops give
// every message first: true when it consumed the message, which must then not be dispatched
// again. The forms install theirs when they open a dialog; the runtime has none of its own, so
// that a program without forms links no form code.
using TDialogMessageHandler = bool (*)(tagMSG* msg);
void SetDialogMessageHandler(TDialogMessageHandler handler);
bool IsFormDialogMessage(tagMSG* msg);

enum class TDelivery {
  Unhandled,  // the handler left the message to the window's default handling
  Handled,    // the handler answered it; the record's Result is the answer
  Failed,     // the handler raised; the application's handler has been told
};

// Calls `handler(record)` (which returns whether it handled the message) with the message as
// a record; `sender` is what the application's exception handler is told.
template <class Handler>
TDelivery DeliverMessage(TObject* sender, uint32_t msg, uintptr_t wparam, intptr_t lparam, TMessage& record,
                         Handler&& handler) {
  record.Msg = msg;
  record.WParam = wparam;
  record.LParam = lparam;
  try {
    return handler(record) ? TDelivery::Handled : TDelivery::Unhandled;
  } catch (const std::exception& e) {
    if (Application) Application->HandleException(sender, e);
    return TDelivery::Failed;
  }
}
