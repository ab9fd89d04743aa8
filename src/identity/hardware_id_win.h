// The machine identity of the statistics reports: the hardware address of a network
// adapter and the serial number of the first physical disk, read afresh each time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "identity/identify_data.h"
#include "win/scoped_handle.h"

namespace installer {

// Writes the address of the first adapter with a bound IP address as 12 lower-case
// hexadecimal digits into `text` and returns true. Returns false, with `text`
// untouched, when the adapter list cannot be read or no adapter qualifies.
bool GetMacAddress(std::wstring& text);

// The disk-serial operations. Holds no state; failures reduce to false or to an
// unchanged buffer, never to an error shown to anyone.
class CHardwareID {
  public:
    CHardwareID() = default;
    virtual ~CHardwareID() = default;

    // SMART identify of "\\.\PhysicalDrive<drive>". False when the device cannot be
    // opened (buffer untouched) or the request fails (buffer then holds what the
    // reply block held, zeros in practice). On success the text fields are fixed.
    bool ReadPhysicalDrive(int drive, IdentifyBuffer& buffer);

    // SCSI-miniport identify of target drive % 2 on "\\.\Scsi<drive / 2>:". False
    // when the device cannot be opened, the request fails or the model field is
    // empty. On success the text fields are fixed.
    bool ReadScsiDrive(int drive, IdentifyBuffer& buffer);

    // Asks WMI for the media serial numbers; the last one enumerated, cut to 20
    // characters and converted to the ANSI code page, goes into the serial field.
    // When WMI gives none, or any step fails, the buffer keeps what it held.
    void ReadWmiSerial(IdentifyBuffer& buffer);

    // Opens a device for reading and writing, shared; invalid on failure.
    win::ScopedFileHandle OpenDevice(const std::wstring& path);

    // The SMART identify request on an open drive. Copies the reply's 512 data
    // bytes into `buffer` whether or not the request succeeded.
    bool SmartIdentify(HANDLE device, IdentifyBuffer& buffer);

    // The miniport identify request for `target` on an open controller. Copies the
    // reply's 512 data bytes into `buffer` whether or not the request succeeded.
    bool ScsiIdentify(HANDLE device, uint8_t target, IdentifyBuffer& buffer);

    // Swaps, left-aligns and trims one identify text field in place.
    static void FixIdentifyString(uint8_t* field, size_t length);
};

// The disk serial text of the first disk: SMART, then the SCSI miniport, then WMI;
// the serial field converted from the ANSI code page. Empty when all fail.
std::wstring ReadDiskSerialText();

}  // namespace installer
