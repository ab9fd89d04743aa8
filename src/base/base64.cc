// Base64 decoding of PEM bodies.
#include "base/base64.h"

#include <cstdint>

namespace installer {
namespace {

int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool DecodeBase64(std::string_view text, std::string& out) {
    out.clear();
    uint32_t group = 0;
    int in_group = 0;
    int padding = 0;
    for (const char c : text) {
        if (IsSpace(c)) {
            continue;
        }
        if (c == '=') {
            ++padding;
            // Padding fills the third or fourth place of the last group only.
            if (in_group + padding > 4 || in_group < 2) {
                out.clear();
                return false;
            }
            continue;
        }
        const int sextet = SextetOf(c);
        if (sextet < 0 || padding > 0) {
            out.clear();
            return false;
        }
        group = (group << 6) | static_cast<uint32_t>(sextet);
        if (++in_group == 4) {
            out.push_back(static_cast<char>(group >> 16));
            out.push_back(static_cast<char>((group >> 8) & 0xFF));
            out.push_back(static_cast<char>(group & 0xFF));
            group = 0;
            in_group = 0;
        }
    }
    if (padding > 0) {
        if (in_group + padding != 4) {
            out.clear();
            return false;
        }
        if (in_group == 2) {
            out.push_back(static_cast<char>(group >> 4));
        } else {
            out.push_back(static_cast<char>(group >> 10));
            out.push_back(static_cast<char>((group >> 2) & 0xFF));
        }
        return true;
    }
    if (in_group != 0) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace installer
