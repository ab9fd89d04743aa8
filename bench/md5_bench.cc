// md5_bench FILE: MD5 throughput of CMD5 over a file held in memory, block by block as the
// download manager digests it, and in one pass. Prints MB/s (10^6 bytes per second).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "download/block_info.h"
#include "base/md5.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: md5_bench FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (data.empty()) {
        std::fprintf(stderr, "md5_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    unsigned sink = 0;
    double best_blocks = 1e9;
    double best_whole = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto start = Clock::now();
        for (size_t at = 0; at < data.size(); at += installer::kBlockStride) {
            const size_t n = std::min<size_t>(installer::kBlockStride, data.size() - at);
            sink += installer::CMD5::Of(data.data() + at, static_cast<uint32_t>(n))[0];
        }
        best_blocks = std::min(best_blocks, std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        installer::CMD5 md5;
        for (size_t at = 0; at < data.size(); at += 1 << 20) {
            md5.Update(data.data() + at, static_cast<uint32_t>(std::min<size_t>(1 << 20, data.size() - at)));
        }
        uint8_t digest[16];
        md5.Final(digest);
        sink += digest[0];
        best_whole = std::min(best_whole, std::chrono::duration<double>(Clock::now() - start).count());
    }
    const double mb = static_cast<double>(data.size()) / 1e6;
    std::printf("cmd5_blocks_mb_s %.1f\ncmd5_whole_mb_s %.1f\n(check %u)\n", mb / best_blocks, mb / best_whole,
                sink & 1);
    return 0;
}
