// JSON output of the test driver.
#include "json_out.h"

#include <cstdio>

namespace installer::test_driver {

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = static_cast<uint16_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

void JsonOut::BeforeValue() {
    if (!fresh_) {
        out_.push_back(',');
    }
    fresh_ = false;
}

JsonOut& JsonOut::BeginObject() {
    BeforeValue();
    out_.push_back('{');
    fresh_ = true;
    return *this;
}

JsonOut& JsonOut::EndObject() {
    out_.push_back('}');
    fresh_ = false;
    return *this;
}

JsonOut& JsonOut::BeginArray() {
    BeforeValue();
    out_.push_back('[');
    fresh_ = true;
    return *this;
}

JsonOut& JsonOut::EndArray() {
    out_.push_back(']');
    fresh_ = false;
    return *this;
}

JsonOut& JsonOut::Key(std::string_view name) {
    String(name);
    out_.push_back(':');
    fresh_ = true;
    return *this;
}

JsonOut& JsonOut::String(std::wstring_view value) {
    return String(ToUtf8(value));
}

JsonOut& JsonOut::String(std::string_view utf8) {
    BeforeValue();
    out_.push_back('"');
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                    out_ += escaped;
                } else {
                    out_.push_back(ch);
                }
        }
    }
    out_.push_back('"');
    return *this;
}

JsonOut& JsonOut::Int(int64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
    return *this;
}

JsonOut& JsonOut::UInt(uint64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
    return *this;
}

JsonOut& JsonOut::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
    return *this;
}

JsonOut& JsonOut::Null() {
    BeforeValue();
    out_ += "null";
    return *this;
}

}  // namespace installer::test_driver
