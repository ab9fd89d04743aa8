// The adapter rule and the address text.
#include "identity/adapter_choice.h"

namespace installer {

std::optional<size_t> ChooseAdapter(std::span<const AdapterEntry> adapters) {
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (adapters[i].first_address_context != 0) {
            return i;
        }
    }
    return std::nullopt;
}

std::wstring FormatAdapterAddress(const std::array<uint8_t, 8>& address) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(12);
    for (size_t i = 0; i < 6; ++i) {
        text.push_back(kDigits[address[i] >> 4]);
        text.push_back(kDigits[address[i] & 0x0F]);
    }
    return text;
}

std::wstring ChosenAdapterText(std::span<const AdapterEntry> adapters) {
    const std::optional<size_t> chosen = ChooseAdapter(adapters);
    return chosen ? FormatAdapterAddress(adapters[*chosen].address) : std::wstring();
}

}  // namespace installer
