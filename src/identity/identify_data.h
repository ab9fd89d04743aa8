// The byte side of the disk serial: the ATA IDENTIFY DEVICE buffer, its text fields,
// and the exact request blocks of the SMART and SCSI-miniport identify requests.
// Portable, so that the byte logic is tested on any host; the Win32 side only moves
// these bytes through DeviceIoControl.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// 256 words of IDENTIFY DEVICE data as the device returns them.
inline constexpr size_t kIdentifyBufferSize = 512;
using IdentifyBuffer = std::array<uint8_t, kIdentifyBufferSize>;

// Text fields of the identify data (byte offset, length), each stored with the two
// bytes of every word swapped.
inline constexpr size_t kSerialOffset = 20;
inline constexpr size_t kSerialLength = 20;
inline constexpr size_t kFirmwareOffset = 46;
inline constexpr size_t kFirmwareLength = 8;
inline constexpr size_t kModelOffset = 54;
inline constexpr size_t kModelLength = 40;

// ATA IDENTIFY DEVICE command byte.
inline constexpr uint8_t kAtaIdentifyDevice = 0xEC;

// Device I/O control codes used for the two device attempts.
inline constexpr uint32_t kSmartReceiveDriveData = 0x0007C088;  // SMART_RCV_DRIVE_DATA
inline constexpr uint32_t kScsiMiniport = 0x0004D008;           // IOCTL_SCSI_MINIPORT
inline constexpr uint32_t kScsiMiniportIdentify = 0x001B0501;   // IOCTL_SCSI_MINIPORT_IDENTIFY

// Byte-exact request layouts. Packed and made of fixed-width fields only, so they are
// the same in 32-bit and 64-bit builds (checked below and in the tests).
#pragma pack(push, 1)
struct IdeRegisters {  // IDEREGS
    uint8_t features;
    uint8_t sector_count;
    uint8_t sector_number;
    uint8_t cylinder_low;
    uint8_t cylinder_high;
    uint8_t drive_head;
    uint8_t command;
    uint8_t reserved;
};

struct SendCommandIn {  // SENDCMDINPARAMS without its one-byte trailing buffer
    uint32_t buffer_size;
    IdeRegisters registers;
    uint8_t drive_number;
    uint8_t reserved[3];
    uint32_t reserved_words[4];
};

struct DriverStatus {  // DRIVERSTATUS
    uint8_t driver_error;
    uint8_t ide_error;
    uint8_t reserved[2];
    uint32_t reserved_words[2];
};

struct SendCommandOut {  // SENDCMDOUTPARAMS with room for the whole identify data
    uint32_t buffer_size;
    DriverStatus status;
    uint8_t data[kIdentifyBufferSize];
};

struct SrbIoControl {  // SRB_IO_CONTROL
    uint32_t header_length;
    uint8_t signature[8];
    uint32_t timeout;
    uint32_t control_code;
    uint32_t return_code;
    uint32_t length;
};

// The one block the miniport request reads and writes: the header, then the command
// on the way in, the command's reply (SENDCMDOUTPARAMS) on the way out.
struct ScsiIdentifyBlock {
    SrbIoControl header;
    union {
        SendCommandIn in;
        SendCommandOut out;
    };
};
#pragma pack(pop)

static_assert(sizeof(IdeRegisters) == 8);
static_assert(sizeof(SendCommandIn) == 32);
static_assert(offsetof(SendCommandIn, registers) == 4);
static_assert(offsetof(SendCommandIn, drive_number) == 12);
static_assert(sizeof(DriverStatus) == 12);
static_assert(sizeof(SendCommandOut) == 528);
static_assert(offsetof(SendCommandOut, data) == 16);
static_assert(sizeof(SrbIoControl) == 28);
static_assert(offsetof(SrbIoControl, control_code) == 16);
static_assert(offsetof(SrbIoControl, length) == 24);
static_assert(sizeof(ScsiIdentifyBlock) == 556);
static_assert(offsetof(ScsiIdentifyBlock, in) == 28);

// Input length of the miniport request: the header and the command.
inline constexpr uint32_t kScsiRequestInputLength = sizeof(SrbIoControl) + sizeof(SendCommandIn);  // 60
// Where the identify data starts in the miniport reply.
inline constexpr size_t kScsiReplyDataOffset = sizeof(SrbIoControl) + offsetof(SendCommandOut, data);  // 44
static_assert(kScsiRequestInputLength == 60);
static_assert(kScsiReplyDataOffset == 44);

// The SMART identify request: all zero but the IDENTIFY DEVICE command byte.
SendCommandIn MakeSmartIdentifyRequest();

// The reply block of the SMART request, zeroed, with its buffer size preset to 512.
SendCommandOut MakeSmartIdentifyReply();

// The miniport identify block for `target` (the drive on its controller).
ScsiIdentifyBlock MakeScsiIdentifyBlock(uint8_t target);

// Rewrites one identify text field in place: swaps the bytes of each word, moves the
// text left over its leading spaces (zero bytes fill the end), then turns trailing
// spaces into zero bytes from the last byte backwards until a non-space. `length` is
// even; an odd last byte is left as it is.
void FixIdentifyString(uint8_t* field, size_t length);

// Fixes the serial, model and firmware fields, in that order.
void FixIdentifyFields(IdentifyBuffer& buffer);

// The miniport attempt counts only when the request succeeded and the model field
// (before fixing) does not start with a zero byte.
bool ScsiReplyUsable(bool request_succeeded, const IdentifyBuffer& buffer);

// The serial field's bytes up to the first zero byte, at most 20.
std::string SerialFieldBytes(const IdentifyBuffer& buffer);

// WMI gives one value per medium, absent when the medium has none (a null value).
// Returns the last present one, empty or not; nullopt when none is present.
std::optional<std::wstring> LastWmiSerial(std::span<const std::optional<std::wstring>> serials);

// The serial field holds 20 bytes: keeps the first 20 characters of a longer WMI
// serial, and never splits a surrogate pair.
std::wstring CutWmiSerial(std::wstring_view serial);

// Writes a serial's bytes (already in the ANSI code page) into the serial field,
// at most 20 of them, zero-filling the rest of the field. Never writes outside it.
void StoreSerialField(IdentifyBuffer& buffer, std::string_view ansi_serial);

}  // namespace installer
