// The highest package-description serial accepted on this machine, kept per product and
// mode in a small file in the user's local application data (the installer stores nothing
// in the registry), so that an older signed description served later is refused.
#pragma once

#include <cstdint>

namespace installer {

// The highest serial recorded for the build's product in `home_mode`; 0 when none is
// recorded or the record cannot be read.
int64_t HighestAcceptedSerial(bool home_mode);

// Records `serial` when it is above the recorded one: written beside the record and
// renamed over it, so that a cut write leaves the old record. Returns false when it cannot
// be written (the description is still used; the record just does not move on).
bool RecordAcceptedSerial(bool home_mode, int64_t serial);

}  // namespace installer
