#include "toolkit/Application.h"

#include "toolkit/Platform.h"

TApplication* Application = nullptr;

TApplication::TApplication(TComponent* owner) : TComponent(owner) {
  if (!Application) Application = this;
}

TApplication::~TApplication() {
  if (Application == this) Application = nullptr;
}

void TApplication::HandleException(TObject* sender, const std::exception& e) {
  if (OnException) {
    OnException(sender, e);
    return;
  }
  WindowSystem().ShowMessageBox(ExceptionMessage(e), FTitle, MB_OK | MB_ICONERROR);
}

int TApplication::Run() {
  if (FTerminated) return 0;
  return WindowSystem().RunMessageLoop();
}

void TApplication::Terminate(int exitCode) {
  FTerminated = true;
  WindowSystem().PostQuitMessage(exitCode);
}

String ExceptionMessage(const std::exception& e) {
  if (auto* ours = dynamic_cast<const Exception*>(&e)) return ours->Message();
  return e.what();
}
