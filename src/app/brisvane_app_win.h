// The application object: the whole life of the installer process in one call.
#pragma once

#include "win/scoped_handle.h"

namespace installer {

class CBrisvaneApp {
  public:
    // Starts up, runs the installer window until it closes and returns false, always:
    // the process then ends through ExitInstance. Every stop on the way has shown its
    // message already (or none, for a second instance).
    bool InitInstance();

    // Closes the single-instance mutex and ends the process with exit code 0.
    [[noreturn]] void ExitInstance();

  private:
    win::ScopedKernelHandle instance_mutex_;
};

}  // namespace installer
