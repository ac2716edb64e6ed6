// The program's entry, apart from the platform's WinMain: starts WinSock, builds the
// application and its form, runs the message loop, and returns the process's exit status.
#pragma once

#include "toolkit/SysUtils.h"

int RunKairotsu();
