// Which network adapter identifies the machine, and how its address is written.
// Portable: the Win32 side turns the GetAdaptersInfo list into AdapterEntry values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace installer {

// What the choice needs of one adapter of the system's list, in list order.
struct AdapterEntry {
    uint32_t first_address_context = 0;  // Context of the adapter's first IP address entry
    std::array<uint8_t, 8> address{};    // hardware address bytes as the system gives them
};

// Index of the first adapter whose first address entry has a non-zero context (an
// address bound to it); nullopt when none has. Adapter type and address length are
// not looked at.
std::optional<size_t> ChooseAdapter(std::span<const AdapterEntry> adapters);

// The first six address bytes as 12 lower-case hexadecimal digits.
std::wstring FormatAdapterAddress(const std::array<uint8_t, 8>& address);

// The address text of the chosen adapter, or empty when none qualifies.
std::wstring ChosenAdapterText(std::span<const AdapterEntry> adapters);

}  // namespace installer
