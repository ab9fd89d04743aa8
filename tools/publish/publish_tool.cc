// publish_tool: writes the package-description section of a setup file (its block table
// and mirrors, its size and SHA-256) into an INI file, or checks an INI file against a setup file.
//
//   publish_tool write --file setup.exe --ini out.ini [--section File0] --url URL [--url URL]...
//                      [--title T] [--doc-url U] [--dir D] [--rate R] [--info-count N]
//                      [--allow-oversize]
//   publish_tool check --file setup.exe --ini in.ini [--section File0] [--public-key pub.pem [--sig in.ini.sig]]
//   publish_tool keygen --key private.pem --public-key public.pem          (host only)
//   publish_tool sign --ini info.ini --key private.pem [--sig info.ini.sig] [--valid-days 30]
//                     [--serial N] [--product P] [--mode info|home]      (host only)
//
// A signed description is served with its signature beside it ("info.ini.sig"): the DER
// ECDSA P-256 signature over the SHA-256 of the description's exact bytes. An installer
// built with the public key acts on nothing else. Before it signs, `sign` writes into
// [Info] what binds the signature to its time and place: Expires (today + valid days),
// Serial (the old one + 1 unless given; never lower), Product and Mode (the file name
// tells the mode unless given). Both files are written beside their targets and renamed.
//
// Encoding: plain ASCII when every character is ASCII; otherwise UTF-16LE with a byte-order
// mark, because the Windows profile functions read a file without one in the ANSI code page
// (a Chinese title in UTF-8 would be garbled) and reliably honour only the UTF-16 mark.
// The installer refuses a description over 1 MiB (kMaxDescriptionBytes), so a longer result
// is refused here too (unless --allow-oversize, for test descriptions of that refusal).
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/hex.h"
#include "base/ini_file.h"
#include "config/description_signature.h"
#include "config/package_description.h"
#include "config/publisher_key.h"
#include "config/signed_description.h"
#include "base/text.h"
#include "download/block_info.h"
#include "download/package_integrity.h"
#include "ini_edit.h"
#include "base/md5.h"
#include "base/sha256.h"
#if PUBLISH_TOOL_SIGNING
#include "signing_openssl.h"
#endif

namespace installer {
namespace {

struct Options {
    std::string command;
    std::string file;
    std::string ini;
    std::string section = "File0";
    std::vector<std::string> urls;
    std::optional<std::string> title, doc_url, dir, rate;
    std::optional<int> info_count;
    bool allow_oversize = false;
    std::string key;                                   // private key (keygen writes it, sign reads it)
    std::string public_key;                            // public key (keygen writes it, check reads it)
    std::string sig;                                   // signature file; default: the description's path + ".sig"
    int valid_days = 30;                               // sign: Expires is today + this many days
    std::optional<std::string> serial, product, mode;  // sign: [Info] Serial, Product, Mode
};

std::string SignaturePath(const Options& o) {
    return o.sig.empty() ? o.ini + ".sig" : o.sig;
}

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "publish_tool: %s\n"
                 "usage: publish_tool write --file SETUP --ini INI [--section File0] --url URL... [--title T]\n"
                 "                          [--doc-url U] [--dir D] [--rate R] [--info-count N] [--allow-oversize]\n"
                 "       publish_tool check --file SETUP --ini INI [--section File0] [--public-key PUB [--sig SIG]\n"
                 "                          [--product P] [--mode info|home]]\n"
                 "       publish_tool keygen --key PRIVATE --public-key PUB\n"
                 "       publish_tool sign --ini INI --key PRIVATE [--sig SIG] [--valid-days N] [--serial N]\n"
                 "                         [--product P] [--mode info|home]\n",
                 problem);
    return 2;
}

std::string Hex(const Md5Digest& d) {
    return EncodeHex(d.data(), d.size());
}

// Size and digest of every block of `path`, and in `whole` the digest of the whole file
// (when given); nullopt when it cannot be read.
std::optional<std::vector<BlockInfo>> ScanFile(const std::string& path, Sha256Digest* whole = nullptr) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<BlockInfo> blocks;
    Sha256 sha;
    auto buffer = std::make_unique<char[]>(kBlockStride);
    while (true) {
        in.read(buffer.get(), kBlockStride);
        const auto got = static_cast<int32_t>(in.gcount());
        if (got <= 0) {
            break;
        }
        BlockInfo b;
        b.index = static_cast<int32_t>(blocks.size());
        b.size = got;
        b.digest = CMD5::Of(reinterpret_cast<const uint8_t*>(buffer.get()), static_cast<uint32_t>(got));
        b.digest_valid = true;
        sha.Update(reinterpret_cast<const uint8_t*>(buffer.get()), static_cast<size_t>(got));
        blocks.push_back(b);
        if (got < kBlockStride) {
            break;
        }
    }
    if (in.bad()) {
        return std::nullopt;
    }
    if (whole != nullptr) {
        *whole = sha.Final();
    }
    return blocks;
}

Sha256Digest Sha256DigestOfFile(const std::string& path) {
    Sha256Digest whole{};
    ScanFile(path, &whole);
    return whole;
}

std::string ReadAll(const std::string& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    *exists = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Text of an existing description, whatever encoding it was written in.
std::wstring DecodeText(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
        std::u16string units;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            units += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
        }
        return Utf16ToWide(units);
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return Utf8ToWide(bytes.substr(3));
    }
    return Utf8ToWide(bytes);
}

std::string Encode(const std::wstring& text) {
    bool ascii = true;
    for (wchar_t c : text) {
        ascii = ascii && c < 0x80;
    }
    if (ascii) {
        return std::string(text.begin(), text.end());
    }
    std::string out = "\xFF\xFE";
    for (wchar_t c : text) {
        auto put = [&out](uint32_t unit) {
            out += static_cast<char>(unit & 0xFF);
            out += static_cast<char>((unit >> 8) & 0xFF);
        };
        const auto code = static_cast<uint32_t>(c);
        if (code >= 0x10000) {  // wchar_t is 32-bit on the host
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

// Number in a "File%d" section name, or -1.
int SectionNumber(const std::string& name) {
    if (name.size() <= 4 || (name.compare(0, 4, "File") != 0 && name.compare(0, 4, "file") != 0)) {
        return -1;
    }
    for (size_t i = 4; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
    }
    return std::stoi(name.substr(4));
}

// Writes `bytes` to `path` through a file beside it renamed over it, so that a reader
// sees the old file or the new one, never a part. Prints the problem and returns false.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "publish_tool: cannot write %s\n", temp.c_str());
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::fprintf(stderr, "publish_tool: cannot replace %s: %s\n", path.c_str(), error.message().c_str());
        std::filesystem::remove(temp, error);
        return false;
    }
    return true;
}

int Write(const Options& o) {
    if (o.urls.empty()) {
        return Usage("write needs at least one --url");
    }
    const int number = SectionNumber(o.section);
    if (number < 0) {
        return Usage("--section must be File<number>, as the installer reads it");
    }
    Sha256Digest whole{};
    const auto blocks = ScanFile(o.file, &whole);
    if (!blocks) {
        std::fprintf(stderr, "publish_tool: cannot read %s\n", o.file.c_str());
        return 1;
    }
    if (blocks->empty()) {
        std::fprintf(stderr, "publish_tool: %s is empty; there is nothing to publish\n", o.file.c_str());
        return 1;
    }
    if (blocks->size() > static_cast<size_t>(kMaxBlocks)) {
        std::fprintf(stderr, "publish_tool: %s has %zu blocks; the installer handles at most %d\n", o.file.c_str(),
                     blocks->size(), kMaxBlocks);
        return 1;
    }
    bool exists = false;
    const std::string old_bytes = ReadAll(o.ini, &exists);
    // Only the keys written here change; the rest of the file stays as it was.
    IniText text(DecodeText(old_bytes));
    const std::wstring section = Utf8ToWide(o.section);
    // Keep the texts of an existing section unless new ones are given.
    const IniFile old_ini = IniFile::Parse(Encode(text.Text()));
    auto text_of = [&](const std::optional<std::string>& given, const wchar_t* key) {
        return given ? Utf8ToWide(*given) : old_ini.GetString(section, key, L"");
    };
    IniText::KeyValues keys;
    auto put = [&keys](const std::wstring& key, const std::wstring& value) { keys.emplace_back(key, value); };
    put(L"FileTitle", text_of(o.title, L"FileTitle"));
    put(L"DocUrl", text_of(o.doc_url, L"DocUrl"));
    put(L"FileDir", text_of(o.dir, L"FileDir"));
    put(L"BlockCount", std::to_wstring(blocks->size()));
    for (const BlockInfo& b : *blocks) {
        put(L"BlockSize" + std::to_wstring(b.index), std::to_wstring(b.size));
        put(L"Hash" + std::to_wstring(b.index), Utf8ToWide(Hex(b.digest)));
    }
    put(L"urlCount", std::to_wstring(o.urls.size()));
    for (size_t i = 0; i < o.urls.size(); ++i) {
        put(L"url" + std::to_wstring(i), Utf8ToWide(o.urls[i]));
    }
    // The whole file, checked by the installer before the package runs.
    int64_t total = 0;
    for (const BlockInfo& b : *blocks) {
        total += b.size;
    }
    put(L"FileSize", std::to_wstring(total));
    put(L"FileSha256", Utf8ToWide(Sha256Hex(whole)));
    // Every key of the section is replaced: keys of an older version of the package
    // (more blocks, more mirrors) must not stay behind.
    text.ReplaceKeys(section, keys);

    text.AddSectionFirst(L"Info");
    const IniFile current = IniFile::Parse(Encode(text.Text()));
    const int count = o.info_count ? *o.info_count : std::max(current.GetInt(L"Info", L"FileCount", 0), number + 1);
    text.Set(L"Info", L"FileCount", std::to_wstring(count));
    if (o.rate) {
        text.Set(L"Info", L"Rate" + std::to_wstring(number), Utf8ToWide(*o.rate));
    }

    const std::string bytes = Encode(text.Text());
    if (bytes.size() > kMaxDescriptionBytes && !o.allow_oversize) {
        std::fprintf(stderr,
                     "publish_tool: the description would be %zu bytes, but the installer refuses one over "
                     "%zu bytes; %s was not changed (fewer blocks, mirrors or shorter texts are needed)\n",
                     bytes.size(), kMaxDescriptionBytes, o.ini.c_str());
        return 1;
    }
    // Written beside the target and renamed, so that a failed write loses nothing.
    if (!ReplaceFile(o.ini, bytes)) {
        return 1;
    }
    std::printf("%s: [%s] %zu blocks, %zu mirrors, %zu bytes%s\n", o.ini.c_str(), o.section.c_str(), blocks->size(),
                o.urls.size(), bytes.size(),
                bytes.size() > kMaxDescriptionBytes ? " (over the installer's limit)" : "");
    return 0;
}

// Today's date in UTC, the day the installer compares "Expires" with.
CivilDate TodayUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    return CivilDate{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday};
}

// What the installer requires of a signed description beyond its signature, with the
// product and mode asked for when given (any otherwise). Prints the problem and returns
// false when it falls short.
bool MeetsSignedRules(const IniFile& ini, const Options& o) {
    SignedDescriptionContext context;
    context.today = TodayUtc();
    if (o.product) {
        context.product = Utf8ToWide(*o.product);
    }
    if (o.mode) {
        context.home_mode = *o.mode == "home";
    }
    switch (CheckSignedDescription(ini, context).check) {
        case SignedDescriptionCheck::kAccepted:
            return true;
        case SignedDescriptionCheck::kModeMismatch:
            std::printf("MISMATCH: [Info] Mode must be info or home%s\n",
                        o.mode ? (", and " + *o.mode + " here").c_str() : "");
            return false;
        case SignedDescriptionCheck::kProductMismatch:
            std::printf("MISMATCH: [Info] Product must name the product the installer is built for%s\n",
                        o.product ? (" (" + *o.product + ")").c_str() : "");
            return false;
        case SignedDescriptionCheck::kSerialMalformed:
            std::printf("MISMATCH: [Info] Serial must be a whole number (publish_tool sign writes it)\n");
            return false;
        case SignedDescriptionCheck::kSerialBelowFloor:
        case SignedDescriptionCheck::kSerialOlderThanSeen:
            std::printf("MISMATCH: [Info] Serial is too low\n");
            return false;
        case SignedDescriptionCheck::kExpiryMissing:
            std::printf("MISMATCH: [Info] Expires is required (publish_tool sign --valid-days writes it)\n");
            return false;
        case SignedDescriptionCheck::kWholeFileKeysMissing:
            std::printf(
                "MISMATCH: a signed description needs FileSha256 and FileSize in every File section (write "
                "them with publish_tool write)\n");
            return false;
        case SignedDescriptionCheck::kExpiryMalformed:
            std::printf("MISMATCH: [Info] Expires must be a date, YYYY-MM-DD\n");
            return false;
        case SignedDescriptionCheck::kExpired:
            std::printf("MISMATCH: [Info] Expires has passed: the installer refuses this description\n");
            return false;
    }
    return false;
}

// The signature as the installer checks it: its length bound, its encoding, the key's
// form, then the signature itself (with OpenSSL here, CNG there).
bool CheckSignature(const Options& o, const std::string& bytes, const IniFile& ini) {
    bool key_exists = false;
    const std::string key_pem = ReadAll(o.public_key, &key_exists);
    std::vector<uint8_t> blob;
    if (!key_exists || !EcdsaP256PublicBlobFromPem(key_pem, blob)) {
        std::printf("MISMATCH: %s is not a PEM ECDSA P-256 public key the installer can take\n", o.public_key.c_str());
        return false;
    }
    bool sig_exists = false;
    const std::string signature = ReadAll(SignaturePath(o), &sig_exists);
    RawEcdsaP256Signature raw;
    if (!sig_exists) {
        std::printf("MISMATCH: no signature file %s\n", SignaturePath(o).c_str());
        return false;
    }
    if (!EcdsaSignatureFromDer(signature, raw)) {
        std::printf("MISMATCH: %s is not a DER ECDSA P-256 signature of at most %zu bytes\n", SignaturePath(o).c_str(),
                    kMaxSignatureBytes);
        return false;
    }
#if PUBLISH_TOOL_SIGNING
    std::string error;
    if (!VerifyBytes(o.public_key, bytes, signature, error)) {
        std::printf("MISMATCH: %s\n", error.c_str());
        return false;
    }
#else
    (void)bytes;
    std::printf("MISMATCH: this build of publish_tool cannot verify signatures (use the host build)\n");
    return false;
#endif
    if (!MeetsSignedRules(ini, o)) {
        return false;
    }
    std::printf("signature: %s verifies with %s\n", SignaturePath(o).c_str(), o.public_key.c_str());
    return true;
}

#if PUBLISH_TOOL_SIGNING
int KeyGen(const Options& o) {
    if (o.key.empty() || o.public_key.empty()) {
        return Usage("keygen needs --key and --public-key");
    }
    std::string error;
    if (!GenerateSigningKey(o.key, o.public_key, error)) {
        std::fprintf(stderr, "publish_tool: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "private key: %s (keep it secret, off the build machines)\npublic key: %s (the build setting "
        "INSTALLER_PUBLISHER_KEY)\n",
        o.key.c_str(), o.public_key.c_str());
    return 0;
}

// Sets [Info] Expires, Serial, Product and Mode of the description text `text` for
// signing. Prints the problem and returns false when they cannot be set.
bool StampForSigning(const Options& o, std::wstring& text) {
    IniText edited(text);
    if (!edited.HasSection(L"Info")) {
        std::fprintf(stderr, "publish_tool: %s has no [Info] section: write it with publish_tool write\n",
                     o.ini.c_str());
        return false;
    }
    const IniFile old = IniFile::Parse(Encode(text));
    const std::wstring old_serial_text = old.GetString(L"Info", L"Serial", L"");
    const std::optional<int64_t> old_serial = ParseDescriptionSerial(old_serial_text);
    if (!old_serial_text.empty() && !old_serial) {
        std::fprintf(stderr, "publish_tool: [Info] Serial=%s is not a whole number; give --serial\n",
                     WideToUtf8(old_serial_text).c_str());
        if (!o.serial) {
            return false;
        }
    }
    int64_t serial = old_serial ? *old_serial + 1 : 1;
    if (o.serial) {
        const std::optional<int64_t> given = ParseDescriptionSerial(Utf8ToWide(*o.serial));
        if (!given) {
            std::fprintf(stderr, "publish_tool: --serial must be a whole number up to %lld\n",
                         static_cast<long long>(kMaxDescriptionSerial));
            return false;
        }
        if (old_serial && *given < *old_serial) {
            std::fprintf(stderr,
                         "publish_tool: --serial %lld is below the description's Serial %lld: installers that saw "
                         "that one would refuse it\n",
                         static_cast<long long>(*given), static_cast<long long>(*old_serial));
            return false;
        }
        serial = *given;
    }
    if (serial > kMaxDescriptionSerial) {
        std::fprintf(stderr, "publish_tool: Serial would pass %lld\n", static_cast<long long>(kMaxDescriptionSerial));
        return false;
    }
    std::wstring product = old.GetString(L"Info", L"Product", L"");
    if (o.product) {
        product = Utf8ToWide(*o.product);
    }
    if (product.empty()) {
        std::fprintf(stderr, "publish_tool: sign needs --product (the build setting INSTALLER_PRODUCT)\n");
        return false;
    }
    std::wstring mode = old.GetString(L"Info", L"Mode", L"");
    if (o.mode) {
        mode = Utf8ToWide(*o.mode);
    } else if (mode.empty()) {
        mode = std::filesystem::path(o.ini).filename() == "home.ini" ? kHomeMode : kInfoMode;
    }
    edited.Set(L"Info", L"Product", product);
    edited.Set(L"Info", L"Mode", mode);
    edited.Set(L"Info", L"Serial", std::to_wstring(serial));
    edited.Set(L"Info", L"Expires", FormatCivilDate(AddDays(TodayUtc(), o.valid_days)));
    text = edited.Text();
    return true;
}

int Sign(const Options& o) {
    if (o.key.empty() || o.ini.empty()) {
        return Usage("sign needs --ini and --key");
    }
    bool exists = false;
    const std::string old_bytes = ReadAll(o.ini, &exists);
    if (!exists) {
        std::fprintf(stderr, "publish_tool: cannot read %s\n", o.ini.c_str());
        return 1;
    }
    std::wstring text = DecodeText(old_bytes);
    if (!StampForSigning(o, text)) {
        return 1;
    }
    const std::string bytes = Encode(text);
    if (bytes.size() > kMaxDescriptionBytes) {
        std::fprintf(stderr, "publish_tool: %s would be over %zu bytes; the installer refuses it\n", o.ini.c_str(),
                     kMaxDescriptionBytes);
        return 1;
    }
    // A signature on a description the installer would refuse anyway helps nobody.
    if (!MeetsSignedRules(IniFile::Parse(bytes), o)) {
        return 1;
    }
    std::string signature;
    std::string error;
    if (!SignBytes(o.key, bytes, signature, error)) {
        std::fprintf(stderr, "publish_tool: %s\n", error.c_str());
        return 1;
    }
    // The description first, then its signature: each replaced whole, never written in place.
    if (!ReplaceFile(o.ini, bytes) || !ReplaceFile(SignaturePath(o), signature)) {
        return 1;
    }
    const IniFile signed_ini = IniFile::Parse(bytes);
    std::printf("signed: %s (%zu bytes), %s: Serial=%s Expires=%s Product=%s Mode=%s\n", SignaturePath(o).c_str(),
                signature.size(), o.ini.c_str(), WideToUtf8(signed_ini.GetString(L"Info", L"Serial", L"")).c_str(),
                WideToUtf8(signed_ini.GetString(L"Info", L"Expires", L"")).c_str(),
                WideToUtf8(signed_ini.GetString(L"Info", L"Product", L"")).c_str(),
                WideToUtf8(signed_ini.GetString(L"Info", L"Mode", L"")).c_str());
    return 0;
}
#endif

int Check(const Options& o) {
    bool exists = false;
    const std::string bytes = ReadAll(o.ini, &exists);
    if (!exists) {
        std::fprintf(stderr, "publish_tool: cannot read %s\n", o.ini.c_str());
        return 1;
    }
    const auto blocks = ScanFile(o.file);
    if (!blocks) {
        std::fprintf(stderr, "publish_tool: cannot read %s\n", o.file.c_str());
        return 1;
    }
    int problems = 0;
    if (bytes.size() > kMaxDescriptionBytes) {
        std::printf("MISMATCH: %s is %zu bytes; the installer refuses a description over %zu\n", o.ini.c_str(),
                    bytes.size(), kMaxDescriptionBytes);
        return 1;
    }
    const IniFile ini = IniFile::Parse(bytes);
    const std::wstring section = Utf8ToWide(o.section);
    const int count = ini.GetInt(section, L"BlockCount", 0);
    if (count != static_cast<int>(blocks->size())) {
        std::printf("MISMATCH: BlockCount is %d, the file has %zu blocks\n", count, blocks->size());
        return 1;
    }
    for (const BlockInfo& b : *blocks) {
        const std::wstring n = std::to_wstring(b.index);
        const int size = ini.GetInt(section, L"BlockSize" + n, 0);
        const std::string hash = WideToUtf8(ini.GetString(section, L"Hash" + n, L""));
        Md5Digest expected{};
        const bool valid = HexToBytes(hash, expected);
        if (size != b.size) {
            std::printf("MISMATCH: block %d (offset %lld): BlockSize%d is %d, the file has %d bytes\n", b.index,
                        static_cast<long long>(b.index) * kBlockStride, b.index, size, b.size);
            return 1;
        }
        if (!valid || expected != b.digest) {
            std::printf("MISMATCH: block %d (offset %lld): Hash%d is \"%s\", the file's digest is %s\n", b.index,
                        static_cast<long long>(b.index) * kBlockStride, b.index, hash.c_str(), Hex(b.digest).c_str());
            return 1;
        }
    }
    // The whole file as the installer checks it: the same key reading and the same check.
    const PackageIntegrity integrity = ReadPackageIntegrity(ini, section);
    std::ifstream whole(o.file, std::ios::binary);
    const ReadAtFn read_at = [&whole](int64_t offset, uint8_t* buffer, int32_t size) -> int64_t {
        whole.clear();
        whole.seekg(offset);
        whole.read(reinterpret_cast<char*>(buffer), size);
        return whole.bad() ? -1 : static_cast<int64_t>(whole.gcount());
    };
    const WholeFileCheck whole_result = CheckWholeFile(read_at, integrity);
    switch (whole_result) {
        case WholeFileCheck::kNotRequired:
            std::printf("note: [%s] has no FileSha256; the installer checks the blocks only\n", o.section.c_str());
            break;
        case WholeFileCheck::kMatch:
            break;
        case WholeFileCheck::kMalformedKey:
            std::printf(
                "MISMATCH: FileSha256 must be 64 hexadecimal digits and FileSize a decimal number; the "
                "installer refuses this package\n");
            ++problems;
            break;
        case WholeFileCheck::kSizeMismatch:
            std::printf("MISMATCH: FileSize is %lld, the file has %lld bytes\n",
                        static_cast<long long>(integrity.size.value_or(-1)),
                        static_cast<long long>(std::filesystem::file_size(o.file)));
            ++problems;
            break;
        case WholeFileCheck::kDigestMismatch:
            std::printf("MISMATCH: FileSha256 is %s, the file's digest is %s\n", Sha256Hex(integrity.sha256).c_str(),
                        Sha256Hex(Sha256DigestOfFile(o.file)).c_str());
            ++problems;
            break;
        case WholeFileCheck::kReadError:
            std::fprintf(stderr, "publish_tool: cannot read %s\n", o.file.c_str());
            return 1;
    }
    const int urls = ini.GetInt(section, L"urlCount", 0);
    if (urls <= 0) {
        std::printf("MISMATCH: urlCount is %d: no mirror to download from\n", urls);
        ++problems;
    }
    if (ini.GetInt(L"Info", L"FileCount", 0) <= SectionNumber(o.section)) {
        std::printf("MISMATCH: [Info] FileCount does not include %s\n", o.section.c_str());
        ++problems;
    }
    if (!o.public_key.empty() && !CheckSignature(o, bytes, ini)) {
        ++problems;
    }
    if (problems == 0) {
        std::printf("OK: %s matches [%s] (%zu blocks, %d mirrors%s)\n", o.file.c_str(), o.section.c_str(),
                    blocks->size(), urls, whole_result == WholeFileCheck::kMatch ? ", size and SHA-256" : "");
    }
    return problems == 0 ? 0 : 1;
}

}  // namespace
}  // namespace installer

int main(int argc, char** argv) {
    using installer::Usage;
    if (argc < 2) {
        return Usage("no command");
    }
    installer::Options o;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--allow-oversize") {
            o.allow_oversize = true;
            continue;
        }
        if (i + 1 >= argc) {
            return Usage(("missing value after " + key).c_str());
        }
        const std::string value = argv[++i];
        if (value.find_first_of("\r\n") != std::string::npos) {
            // Written into the description, a line break would start a line of its own.
            return Usage(("the value of " + key + " holds a line break").c_str());
        }
        if (key == "--file") {
            o.file = value;
        } else if (key == "--ini") {
            o.ini = value;
        } else if (key == "--section") {
            o.section = value;
        } else if (key == "--url") {
            o.urls.push_back(value);
        } else if (key == "--title") {
            o.title = value;
        } else if (key == "--doc-url") {
            o.doc_url = value;
        } else if (key == "--dir") {
            o.dir = value;
        } else if (key == "--rate") {
            o.rate = value;
        } else if (key == "--key") {
            o.key = value;
        } else if (key == "--public-key") {
            o.public_key = value;
        } else if (key == "--sig") {
            o.sig = value;
        } else if (key == "--serial") {
            o.serial = value;
        } else if (key == "--product") {
            o.product = value;
        } else if (key == "--mode") {
            if (value != "info" && value != "home") {
                return Usage("--mode must be info or home");
            }
            o.mode = value;
        } else if (key == "--valid-days") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 0 || n > 3660) {
                return Usage("--valid-days must be a number of days from 0 to 3660");
            }
            o.valid_days = static_cast<int>(n);
        } else if (key == "--info-count") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 1000) {
                return Usage("--info-count must be a number from 1 to 1000");
            }
            o.info_count = static_cast<int>(n);
        } else {
            return Usage(("unknown option " + key).c_str());
        }
    }
    if (o.command == "keygen" || o.command == "sign") {
#if PUBLISH_TOOL_SIGNING
        return o.command == "keygen" ? installer::KeyGen(o) : installer::Sign(o);
#else
        return Usage("keygen and sign need the host build of publish_tool (OpenSSL)");
#endif
    }
    if (o.file.empty() || o.ini.empty()) {
        return Usage("--file and --ini are required");
    }
    if (o.command == "write") {
        return installer::Write(o);
    }
    if (o.command == "check") {
        return installer::Check(o);
    }
    return Usage(("unknown command " + o.command).c_str());
}
