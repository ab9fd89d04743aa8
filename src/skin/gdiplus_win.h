// Process-wide GDI+ start-up: the first CGDIPlus starts GDI+, which stays started until
// the process exits.
#pragma once

namespace installer {

class CGDIPlus {
  public:
    // Starts GDI+ when it is not started yet and registers its shutdown at process exit.
    // A failed start-up is retried by the next construction; image loads fail meanwhile.
    CGDIPlus();
    virtual ~CGDIPlus() = default;

    // True when GDI+ is running.
    static bool IsStarted();
};

}  // namespace installer
