// JSON output of the test driver.
#include "json_out.h"

#include <cstdio>

#include "base/text.h"

namespace installer::test_driver {

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
    return String(WideToUtf8(value));
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
