// Console probe of the machine identity and the install statistics report, for
// tests under Wine: prints what the installer would send and sends it on request.
//
//   report_probe adapters              the adapter list and the chosen address text
//   report_probe serial                each disk-serial attempt and the serial text
//   report_probe address [identity]    the report address with the built-in server
//   report_probe com-ptr               reference counts seen through ComPtr
//   report_probe send --type T[,T..] [identity] [--base URL] [--wait-ms N] [--thread --linger-ms N]
//
// identity: --arg TEXT (parsed like the installer's first argument) and/or
// --partner N --sub N --home. Output is UTF-8, one "key=value" per line.
#include <windows.h>
#include <iphlpapi.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "identity/partner_identity.h"
#include "base/text.h"
#include "build_settings.h"
#include "win/com_ptr_win.h"
#include "identity/hardware_id_win.h"
#include "identity/install_report_win.h"

namespace installer {
namespace {

void Print(const std::wstring& key, const std::wstring& value) {
    const std::string line = WideToUtf8(key) + "=" + WideToUtf8(value) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::wstring Hex(const uint8_t* bytes, size_t count) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

int ShowAdapters() {
    ULONG size = 0;
    ::GetAdaptersInfo(nullptr, &size);
    std::vector<IP_ADAPTER_INFO> list(size / sizeof(IP_ADAPTER_INFO) + 1);
    size = static_cast<ULONG>(list.size() * sizeof(IP_ADAPTER_INFO));
    const ULONG result = ::GetAdaptersInfo(list.data(), &size);
    Print(L"adapters_result", std::to_wstring(result));
    if (result == ERROR_SUCCESS) {
        for (const IP_ADAPTER_INFO* a = list.data(); a != nullptr; a = a->Next) {
            Print(L"adapter", Utf8ToWide(a->Description) + L" type=" + std::to_wstring(a->Type) + L" context=" +
                                  std::to_wstring(a->IpAddressList.Context) + L" ip=" +
                                  Utf8ToWide(a->IpAddressList.IpAddress.String) + L" address=" +
                                  Hex(a->Address, a->AddressLength));
        }
    }
    std::wstring mac;
    const bool ok = GetMacAddress(mac);
    Print(L"mac_ok", ok ? L"1" : L"0");
    Print(L"mac", mac);
    return 0;
}

int ShowSerial() {
    CHardwareID hardware;
    IdentifyBuffer buffer{};
    Print(L"physical_drive", hardware.ReadPhysicalDrive(0, buffer) ? L"1" : L"0");
    buffer.fill(0);
    Print(L"scsi_drive", hardware.ReadScsiDrive(0, buffer) ? L"1" : L"0");
    buffer.fill(0);
    hardware.ReadWmiSerial(buffer);
    Print(L"wmi_field", Utf8ToWide(SerialFieldBytes(buffer)));
    // A second WMI attempt in the same process, as a later report makes it.
    buffer.fill(0);
    hardware.ReadWmiSerial(buffer);
    Print(L"wmi_field_again", Utf8ToWide(SerialFieldBytes(buffer)));
    Print(L"serial", ReadDiskSerialText());
    return 0;
}

// An object that counts the references it was given and given back.
class CountingObject : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++added); }
    ULONG STDMETHODCALLTYPE Release() override {
        ++released;
        return static_cast<ULONG>(added - released);
    }
    long added = 1;  // the reference handed out by its "creator"
    long released = 0;
};

// Hands `object` out the way a COM call fills an out parameter.
void HandOut(CountingObject& object, IUnknown** slot) {
    *slot = &object;
}

// Each line: what was done, then how many references were released so far.
int ShowComPtr() {
    CountingObject first;
    CountingObject second;
    {
        win::ComPtr<IUnknown> held;
        HandOut(first, held.Put());
        Print(L"held", std::to_wstring(first.released));
        win::ComPtr<IUnknown> moved(std::move(held));
        Print(L"moved_from_empty", held ? L"0" : L"1");
        win::ComPtr<IUnknown> other;
        HandOut(second, other.Put());
        moved = std::move(other);  // gives back `first`, takes over `second`
        Print(L"first_after_move_assign", std::to_wstring(first.released));
        HandOut(first, moved.Put());  // gives back `second` before the slot is refilled
        Print(L"second_after_put", std::to_wstring(second.released));
    }
    Print(L"first_at_end", std::to_wstring(first.released));
    Print(L"second_at_end", std::to_wstring(second.released));
    return 0;
}

const wchar_t* OutcomeName(ReportOutcome outcome) {
    switch (outcome) {
        case ReportOutcome::kSkippedHomeMode:
            return L"home";
        case ReportOutcome::kAnswered:
            return L"answered";
        case ReportOutcome::kFailed:
            return L"failed";
        case ReportOutcome::kAbandoned:
            return L"abandoned";
    }
    return L"?";
}

struct Options {
    PartnerIdentity identity;
    std::vector<int32_t> types;
    std::wstring base;
    DWORD wait_ms = kReportWaitMs;
    bool on_thread = false;
    DWORD linger_ms = 0;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 2; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (name == L"--home") {
            options.identity.home_mode = true;
            continue;
        }
        if (name == L"--thread") {
            options.on_thread = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const wchar_t* value = argv[++i];
        if (name == L"--arg") {
            const bool home = options.identity.home_mode;
            options.identity = ParsePartnerArgument(value);
            options.identity.home_mode = options.identity.home_mode || home;
        } else if (name == L"--partner") {
            options.identity.partner = static_cast<int32_t>(std::wcstol(value, nullptr, 10));
        } else if (name == L"--sub") {
            options.identity.sub_partner = std::wcstoll(value, nullptr, 10);
        } else if (name == L"--type") {
            std::wstring_view rest = value;
            for (;;) {
                const size_t comma = rest.find(L',');
                const std::wstring part(rest.substr(0, comma));
                wchar_t* end = nullptr;
                const long type = std::wcstol(part.c_str(), &end, 10);
                if (part.empty() || *end != L'\0') {
                    return false;
                }
                options.types.push_back(static_cast<int32_t>(type));
                if (comma == std::wstring_view::npos) {
                    break;
                }
                rest.remove_prefix(comma + 1);
            }
        } else if (name == L"--base") {
            options.base = value;
        } else if (name == L"--wait-ms") {
            options.wait_ms = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
        } else if (name == L"--linger-ms") {
            options.linger_ms = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
        } else {
            return false;
        }
    }
    return true;
}

int ShowAddress(const Options& options) {
    const MachineIdentity machine = ReadMachineIdentity();
    ReportFields fields;
    fields.partner = options.identity.partner;
    fields.sub_partner = options.identity.sub_partner;
    fields.mac = machine.mac;
    fields.serial = machine.serial;
    fields.type = options.types.empty() ? 1 : options.types.front();
    Print(L"address", BuildReportAddress(options.base.empty() ? std::wstring(kStatsServerBase) : options.base, fields));
    return 0;
}

int Send(const Options& options) {
    SetProcessIdentity(options.identity);
    for (const int32_t type : options.types) {
        const auto start = std::chrono::steady_clock::now();
        if (options.on_thread) {
            Print(L"thread_started", StartInstallReportThread(static_cast<ReportType>(type)) ? L"1" : L"0");
        } else if (options.base.empty()) {
            Print(L"return", std::to_wstring(SendInstallReport(static_cast<uintptr_t>(type))));
        } else {
            const ReportResult result = SendReport(options.base, options.identity, type, options.wait_ms);
            Print(L"outcome", OutcomeName(result.outcome));
            Print(L"error", std::to_wstring(result.error));
            Print(L"status", std::to_wstring(result.http_status));
            Print(L"address", result.address);
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        Print(L"elapsed_ms", std::to_wstring(elapsed.count()));
    }
    if (options.linger_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.linger_ms));
    }
    return 0;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: report_probe adapters|serial|address|send [options]\n", stderr);
        return 2;
    }
    const std::wstring command = argv[1];
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs("report_probe: bad options\n", stderr);
        return 2;
    }
    if (command == L"adapters") {
        return ShowAdapters();
    }
    if (command == L"serial") {
        return ShowSerial();
    }
    if (command == L"com-ptr") {
        return ShowComPtr();
    }
    if (command == L"address") {
        return ShowAddress(options);
    }
    if (command == L"send" && !options.types.empty()) {
        return Send(options);
    }
    std::fputs("report_probe: unknown command or no --type\n", stderr);
    return 2;
}

}  // namespace
}  // namespace installer

int wmain(int argc, wchar_t** argv) {
    return installer::Run(argc, argv);
}
