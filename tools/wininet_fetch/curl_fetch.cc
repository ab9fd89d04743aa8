// curl_fetch: the download engine over libcurl on the host (benchmark and checks).
#include "download/curl_transport.h"
#include "base/text.h"
#include "fetch_tool.h"

#include <string>

// Besides the options of RunFetch: --no-keep-alive opens a new connection per block.
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    installer::CurlTransportOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-keep-alive") {
            options.keep_alive = false;
        } else {
            args.push_back(installer::Utf8ToWide(argv[i]));
        }
    }
    installer::CurlRangeTransport transport(options);
    return installer::RunFetch(args, transport);
}
