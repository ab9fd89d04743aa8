// The start-of-run lines of the support log.
#include "app/run_log_win.h"

#include <cstring>

#include "app/publisher_key_setting.h"
#include "base/text.h"
#include "build_settings.h"
#include "identity/partner_identity.h"
#include "base/sha256.h"
#include "win/dpi_win.h"
#include "win/support_log_win.h"

namespace installer {

void LogStartOfRun(const std::wstring& argument) {
    // The key's fingerprint: enough to tell which publisher key a build carries.
    const size_t key_length = std::strlen(kPublisherKeyPem);
    const std::string key =
        key_length == 0
            ? std::string("unsigned")
            : "key " +
                  Sha256Hex(Sha256::Of(reinterpret_cast<const uint8_t*>(kPublisherKeyPem), key_length)).substr(0, 16);
    win::LogEvent("installer " + std::string(kInstallerVersion) + ", " + key + ", " +
                  (sizeof(void*) == 8 ? "64-bit" : "32-bit") + " build");
    win::LogEvent(win::WindowsVersionText());
    win::LogEvent("screen scale: " + std::to_string(win::SystemDpi()) + " DPI");
    win::LogEvent("proxy: " + win::ProxySettingText());
    const PartnerIdentity& identity = ProcessIdentity();
    win::LogEvent("argument \"" + WideToUtf8(argument) + "\": partner " + std::to_string(identity.partner) + "/" +
                  std::to_string(identity.sub_partner) + (identity.home_mode ? ", home mode" : ""));
    win::LogEvent("configuration server " + WideToUtf8(kConfigServerBase) + ", statistics server " +
                  WideToUtf8(kStatsServerBase));
}

}  // namespace installer
