// Byte logic of the identify data and the identify request blocks.
#include "identity/identify_data.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace installer {

SendCommandIn MakeSmartIdentifyRequest() {
    SendCommandIn request{};
    request.registers.command = kAtaIdentifyDevice;
    return request;
}

SendCommandOut MakeSmartIdentifyReply() {
    SendCommandOut reply{};
    reply.buffer_size = kIdentifyBufferSize;
    return reply;
}

ScsiIdentifyBlock MakeScsiIdentifyBlock(uint8_t target) {
    ScsiIdentifyBlock block;
    std::memset(&block, 0, sizeof(block));
    block.header.header_length = sizeof(SrbIoControl);
    std::memcpy(block.header.signature, "SCSIDISK", sizeof(block.header.signature));
    block.header.timeout = 10000;
    block.header.control_code = kScsiMiniportIdentify;
    block.header.length = sizeof(SendCommandOut);
    block.in.registers.command = kAtaIdentifyDevice;
    block.in.drive_number = target;
    return block;
}

void FixIdentifyString(uint8_t* field, size_t length) {
    const size_t even = length - length % 2;
    for (size_t i = 0; i < even; i += 2) {
        std::swap(field[i], field[i + 1]);
    }
    size_t leading = 0;
    while (leading < length && field[leading] == ' ') {
        ++leading;
    }
    if (leading > 0) {
        std::memmove(field, field + leading, length - leading);
        std::memset(field + length - leading, 0, leading);
    }
    for (size_t i = length; i > 0 && field[i - 1] == ' '; --i) {
        field[i - 1] = 0;
    }
}

void FixIdentifyFields(IdentifyBuffer& buffer) {
    FixIdentifyString(buffer.data() + kSerialOffset, kSerialLength);
    FixIdentifyString(buffer.data() + kModelOffset, kModelLength);
    FixIdentifyString(buffer.data() + kFirmwareOffset, kFirmwareLength);
}

bool ScsiReplyUsable(bool request_succeeded, const IdentifyBuffer& buffer) {
    return request_succeeded && buffer[kModelOffset] != 0;
}

std::string SerialFieldBytes(const IdentifyBuffer& buffer) {
    const auto* begin = reinterpret_cast<const char*>(buffer.data() + kSerialOffset);
    const auto* end = std::find(begin, begin + kSerialLength, '\0');
    return std::string(begin, end);
}

std::optional<std::wstring> LastWmiSerial(std::span<const std::optional<std::wstring>> serials) {
    for (auto it = serials.rbegin(); it != serials.rend(); ++it) {
        if (it->has_value()) {
            return *it;
        }
    }
    return std::nullopt;
}

std::wstring CutWmiSerial(std::wstring_view serial) {
    size_t keep = std::min(serial.size(), kSerialLength);
    // A high surrogate whose partner would be cut off goes too (UTF-16 builds only).
    if constexpr (sizeof(wchar_t) == 2) {
        if (keep > 0 && keep < serial.size() && serial[keep - 1] >= 0xD800 && serial[keep - 1] <= 0xDBFF) {
            --keep;
        }
    }
    return std::wstring(serial.substr(0, keep));
}

void StoreSerialField(IdentifyBuffer& buffer, std::string_view ansi_serial) {
    uint8_t* field = buffer.data() + kSerialOffset;
    const size_t count = std::min(ansi_serial.size(), kSerialLength);
    std::memcpy(field, ansi_serial.data(), count);
    std::memset(field + count, 0, kSerialLength - count);
}

}  // namespace installer
