// The application object: title, main-form flag, the message loop and the handler that shows
// exceptions which escape event handling.
#pragma once

#include <functional>

#include "toolkit/Classes.h"

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* owner = nullptr);
  ~TApplication() override;

  const String& Title() const { return FTitle; }
  void SetTitle(const String& title) { FTitle = title; }
  bool ShowMainForm() const { return FShowMainForm; }
  void SetShowMainForm(bool show) { FShowMainForm = show; }

  // Replaces the default presentation of an exception (an error message box).
  std::function<void(TObject* sender, const std::exception& e)> OnException;

  // Presents an exception that escaped event handling: OnException when assigned, else an
  // error box with the exception's message and the application's title.
  void HandleException(TObject* sender, const std::exception& e);

  int Run();  // message loop until Terminate
  void Terminate(int exitCode = 0);
  bool Terminated() const { return FTerminated; }

 private:
  String FTitle;
  bool FShowMainForm = true;
  bool FTerminated = false;
};

// The application object of the process, or nullptr when none exists.
extern TApplication* Application;

// Message text of any exception: Message() for ours, what() otherwise.
String ExceptionMessage(const std::exception& e);
