// Reading the adapter address (IP helper), the disk's identify data (device I/O
// control) and the WMI media serial numbers.
#include "identity/hardware_id_win.h"

#include <iphlpapi.h>
#include <wbemidl.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "identity/adapter_choice.h"
#include "win/com_ptr_win.h"
#include "win/code_page_win.h"

namespace installer {
namespace {

// The adapter list can grow between the call that sizes it and the call that
// fills it; a few rounds are enough for any real machine.
constexpr int kAdapterListAttempts = 4;

std::vector<AdapterEntry> ReadAdapterList(bool& ok) {
    ok = false;
    ULONG size = sizeof(IP_ADAPTER_INFO);
    std::unique_ptr<IP_ADAPTER_INFO[]> list;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < kAdapterListAttempts && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        const size_t count = size / sizeof(IP_ADAPTER_INFO) + 1;
        list = std::make_unique<IP_ADAPTER_INFO[]>(count);
        size = static_cast<ULONG>(count * sizeof(IP_ADAPTER_INFO));
        result = ::GetAdaptersInfo(list.get(), &size);
    }
    std::vector<AdapterEntry> entries;
    if (result != ERROR_SUCCESS) {
        return entries;
    }
    ok = true;
    for (const IP_ADAPTER_INFO* adapter = list.get(); adapter != nullptr; adapter = adapter->Next) {
        AdapterEntry entry;
        entry.first_address_context = adapter->IpAddressList.Context;
        static_assert(sizeof(adapter->Address) >= sizeof(entry.address));
        for (size_t i = 0; i < entry.address.size(); ++i) {
            entry.address[i] = adapter->Address[i];
        }
        entries.push_back(entry);
    }
    return entries;
}

// The ANSI form of a serial that fits the 20-byte field: a double-byte code page
// can need more bytes than characters, so whole characters are dropped from the
// end until it fits rather than cutting a character in half.
std::string AnsiSerialForField(std::wstring serial) {
    std::string ansi = win::WideToAnsi(serial);
    while (ansi.size() > kSerialLength && !serial.empty()) {
        serial = CutWmiSerial(std::wstring_view(serial).substr(0, serial.size() - 1));
        ansi = win::WideToAnsi(serial);
    }
    return ansi;
}

// Every medium's "SerialNumber", in enumeration order; nullopt for a medium
// without one. Empty when WMI cannot be reached.
std::vector<std::optional<std::wstring>> QueryMediaSerials() {
    std::vector<std::optional<std::wstring>> serials;
    win::ScopedComApartment apartment(COINIT_MULTITHREADED);
    if (!apartment.usable()) {
        return serials;
    }
    // Process-wide and allowed once: a later report (or other code that set it
    // first) gets RPC_E_TOO_LATE, and the settings already made serve WMI as well.
    const HRESULT security = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(security) && security != RPC_E_TOO_LATE) {
        return serials;
    }
    win::ComPtr<IWbemLocator> locator;
    if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  locator.PutVoid()))) {
        return serials;
    }
    win::ScopedBstr name_space(L"ROOT\\CIMV2");
    win::ScopedBstr language(L"WQL");
    win::ScopedBstr query(L"SELECT * FROM Win32_PhysicalMedia");
    if (!name_space || !language || !query) {
        return serials;
    }
    win::ComPtr<IWbemServices> services;
    if (FAILED(
            locator->ConnectServer(name_space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Put()))) {
        return serials;
    }
    if (FAILED(::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
        return serials;
    }
    win::ComPtr<IEnumWbemClassObject> media;
    if (FAILED(services->ExecQuery(language.Get(), query.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, media.Put()))) {
        return serials;
    }
    for (;;) {
        win::ComPtr<IWbemClassObject> medium;
        ULONG returned = 0;
        const HRESULT next = media->Next(static_cast<long>(WBEM_INFINITE), 1, medium.Put(), &returned);
        if (FAILED(next) || returned == 0 || !medium) {
            break;
        }
        win::ScopedVariant value;
        if (SUCCEEDED(medium->Get(L"SerialNumber", 0, value.Receive(), nullptr, nullptr)) &&
            value.value().vt == VT_BSTR && value.value().bstrVal != nullptr) {
            serials.emplace_back(std::wstring(value.value().bstrVal, ::SysStringLen(value.value().bstrVal)));
        } else {
            serials.emplace_back(std::nullopt);
        }
    }
    return serials;
}

}  // namespace

bool GetMacAddress(std::wstring& text) {
    bool ok = false;
    const std::vector<AdapterEntry> adapters = ReadAdapterList(ok);
    if (!ok) {
        return false;
    }
    const std::optional<size_t> chosen = ChooseAdapter(adapters);
    if (!chosen) {
        return false;
    }
    text = FormatAdapterAddress(adapters[*chosen].address);
    return true;
}

bool CHardwareID::ReadPhysicalDrive(int drive, IdentifyBuffer& buffer) {
    const win::ScopedFileHandle device = OpenDevice(L"\\\\.\\PhysicalDrive" + std::to_wstring(drive));
    if (!device) {
        return false;
    }
    const bool ok = SmartIdentify(device.Get(), buffer);
    if (ok) {
        FixIdentifyFields(buffer);
    }
    return ok;
}

bool CHardwareID::ReadScsiDrive(int drive, IdentifyBuffer& buffer) {
    const win::ScopedFileHandle device = OpenDevice(L"\\\\.\\Scsi" + std::to_wstring(drive / 2) + L":");
    if (!device) {
        return false;
    }
    const bool ok = ScsiReplyUsable(ScsiIdentify(device.Get(), static_cast<uint8_t>(drive % 2), buffer), buffer);
    if (ok) {
        FixIdentifyFields(buffer);
    }
    return ok;
}

void CHardwareID::ReadWmiSerial(IdentifyBuffer& buffer) {
    const std::vector<std::optional<std::wstring>> serials = QueryMediaSerials();
    const std::optional<std::wstring> last = LastWmiSerial(serials);
    if (last) {
        StoreSerialField(buffer, AnsiSerialForField(CutWmiSerial(*last)));
    }
}

win::ScopedFileHandle CHardwareID::OpenDevice(const std::wstring& path) {
    return win::ScopedFileHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
}

bool CHardwareID::SmartIdentify(HANDLE device, IdentifyBuffer& buffer) {
    SendCommandIn request = MakeSmartIdentifyRequest();
    SendCommandOut reply = MakeSmartIdentifyReply();
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(device, kSmartReceiveDriveData, &request, sizeof(request), &reply, sizeof(reply),
                                      &returned, nullptr);
    std::copy(std::begin(reply.data), std::end(reply.data), buffer.begin());
    return ok != FALSE;
}

bool CHardwareID::ScsiIdentify(HANDLE device, uint8_t target, IdentifyBuffer& buffer) {
    ScsiIdentifyBlock block = MakeScsiIdentifyBlock(target);
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(device, kScsiMiniport, &block, kScsiRequestInputLength, &block, sizeof(block),
                                      &returned, nullptr);
    std::copy(std::begin(block.out.data), std::end(block.out.data), buffer.begin());
    return ok != FALSE;
}

void CHardwareID::FixIdentifyString(uint8_t* field, size_t length) {
    installer::FixIdentifyString(field, length);
}

std::wstring ReadDiskSerialText() {
    CHardwareID hardware;
    IdentifyBuffer buffer{};
    if (!hardware.ReadPhysicalDrive(0, buffer) && !hardware.ReadScsiDrive(0, buffer)) {
        hardware.ReadWmiSerial(buffer);
    }
    return win::AnsiToWide(SerialFieldBytes(buffer));
}

}  // namespace installer
