// curl_fetch: the download engine over libcurl on the host (benchmark and checks).
#include "download/curl_transport.h"
#include "base/text.h"
#include "fetch_tool.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(installer::Utf8ToWide(argv[i]));
    }
    installer::CurlRangeTransport transport;
    return installer::RunFetch(args, transport);
}
