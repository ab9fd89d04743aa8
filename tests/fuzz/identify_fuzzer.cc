// Fuzzes the decoding of IDENTIFY DEVICE data: a device can return any 512 bytes, and
// the serial that leaves the machine must come out of them without a fault.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "identity/identify_data.h"

namespace installer {
namespace {

// A field of exactly `length` bytes on the heap, so that AddressSanitizer sees any
// access outside it.
void FixOneField(const uint8_t* data, size_t length) {
    auto field = std::make_unique<uint8_t[]>(length);
    std::memcpy(field.get(), data, length);
    FixIdentifyString(field.get(), length);
    if (length > 0) {
        FUZZ_CHECK(field[0] != ' ' && field[length - 1] != ' ');
    }
    // Only spaces become zero bytes: the other bytes keep their count.
    const auto others = [](const uint8_t* p, size_t n) {
        return std::count_if(p, p + n, [](uint8_t c) { return c != ' ' && c != 0; });
    };
    FUZZ_CHECK(others(field.get(), length) == others(data, length));
}

void Run(const uint8_t* data, size_t size) {
    // The first 512 bytes as a device's reply; what is missing stays zero.
    IdentifyBuffer buffer{};
    std::memcpy(buffer.data(), data, std::min(size, buffer.size()));
    const bool usable = ScsiReplyUsable(true, buffer);
    FUZZ_CHECK(usable == (buffer[kModelOffset] != 0));
    FUZZ_CHECK(!ScsiReplyUsable(false, buffer));

    FixIdentifyFields(buffer);
    const std::string serial = SerialFieldBytes(buffer);
    FUZZ_CHECK(serial.size() <= kSerialLength);
    FUZZ_CHECK(serial.find('\0') == std::string::npos);
    FUZZ_CHECK(serial.empty() || serial.front() != ' ');

    // Storing the serial again and reading it back gives the same bytes.
    IdentifyBuffer copy = buffer;
    StoreSerialField(copy, serial);
    FUZZ_CHECK(SerialFieldBytes(copy) == serial);
    FUZZ_CHECK(std::equal(copy.begin(), copy.begin() + kSerialOffset, buffer.begin()));
    FUZZ_CHECK(std::equal(copy.begin() + kSerialOffset + kSerialLength, copy.end(),
                          buffer.begin() + kSerialOffset + kSerialLength));

    // Any length of field, from the bytes after the first 512.
    if (size > buffer.size()) {
        FixOneField(data + buffer.size(), size - buffer.size());
    }

    // A WMI serial from the same bytes: cut to the field without splitting a character.
    std::wstring wide;
    for (size_t i = 0; i + 1 < size && wide.size() < 64; i += 2) {
        wide.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    const std::wstring cut = CutWmiSerial(wide);
    FUZZ_CHECK(cut.size() <= kSerialLength && wide.compare(0, cut.size(), cut) == 0);
    FUZZ_CHECK(cut.size() == std::min(wide.size(), kSerialLength) || cut.size() + 1 == kSerialLength);
}

}  // namespace
}  // namespace installer

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    installer::Run(data, size);
    return 0;
}
