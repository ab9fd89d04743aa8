// A small JSON writer for the test driver's output: builds UTF-8 text from wide strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installer::test_driver {

// Appends JSON values to one string. The caller places commas with Comma() or uses
// the Key helpers, which do it; nothing is validated (the driver writes fixed shapes).
class JsonOut {
  public:
    JsonOut& BeginObject();
    JsonOut& EndObject();
    JsonOut& BeginArray();
    JsonOut& EndArray();

    // Starts a member "name": inside an object.
    JsonOut& Key(std::string_view name);

    JsonOut& String(std::wstring_view value);
    JsonOut& String(std::string_view utf8);
    JsonOut& Int(int64_t value);
    JsonOut& UInt(uint64_t value);
    JsonOut& Bool(bool value);
    JsonOut& Null();

    const std::string& text() const { return out_; }

  private:
    void BeforeValue();

    std::string out_;
    // True right after '[' / '{' or a key, where no comma is due.
    bool fresh_ = true;
};

}  // namespace installer::test_driver
