// ECDSA P-256 keys and signatures with OpenSSL 3.
#include "signing_openssl.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace installer {
namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using File = std::unique_ptr<std::FILE, FileClose>;

std::string OpensslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    if (code == 0) {
        return what;
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    ERR_clear_error();
    return what + " (" + text + ")";
}

// The installer's CNG import takes P-256 only.
bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    size_t length = 0;
    return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_group_name(key, group, sizeof(group), &length) == 1 &&
           std::string(group, length) == "prime256v1";
}

}  // namespace

bool GenerateSigningKey(const std::string& private_path, const std::string& public_path, std::string& error) {
    Pkey key(EVP_EC_gen("P-256"));
    if (!key) {
        error = OpensslError("cannot make a P-256 key");
        return false;
    }
    // O_EXCL through "x": a private key already there is never replaced.
    const mode_t old_mask = ::umask(077);
    File private_file(std::fopen(private_path.c_str(), "wx"));
    ::umask(old_mask);
    if (!private_file) {
        error = "cannot create " + private_path + " (it must not exist yet)";
        return false;
    }
    if (PEM_write_PrivateKey(private_file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        std::fclose(private_file.release()) != 0) {
        error = OpensslError("cannot write " + private_path);
        return false;
    }
    File public_file(std::fopen(public_path.c_str(), "w"));
    if (!public_file || PEM_write_PUBKEY(public_file.get(), key.get()) != 1 ||
        std::fclose(public_file.release()) != 0) {
        error = OpensslError("cannot write " + public_path);
        return false;
    }
    return true;
}

bool SignBytes(const std::string& private_path, const std::string& data, std::string& signature, std::string& error) {
    File file(std::fopen(private_path.c_str(), "r"));
    if (!file) {
        error = "cannot read " + private_path;
        return false;
    }
    Pkey key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (!key) {
        error = OpensslError(private_path + " holds no private key");
        return false;
    }
    if (!IsP256(key.get())) {
        error = private_path + " is not an ECDSA P-256 key";
        return false;
    }
    MdCtx ctx(EVP_MD_CTX_new());
    size_t length = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()), data.size()) !=
            1) {
        error = OpensslError("cannot sign");
        return false;
    }
    signature.assign(length, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        error = OpensslError("cannot sign");
        return false;
    }
    signature.resize(length);
    return true;
}

bool VerifyBytes(const std::string& public_path,
                 const std::string& data,
                 const std::string& signature,
                 std::string& error) {
    File file(std::fopen(public_path.c_str(), "r"));
    if (!file) {
        error = "cannot read " + public_path;
        return false;
    }
    Pkey key(PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr));
    if (!key) {
        error = OpensslError(public_path + " holds no public key");
        return false;
    }
    if (!IsP256(key.get())) {
        error = public_path + " is not an ECDSA P-256 key";
        return false;
    }
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        error = OpensslError("cannot verify");
        return false;
    }
    const int result =
        EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                         reinterpret_cast<const unsigned char*>(data.data()), data.size());
    ERR_clear_error();
    if (result != 1) {
        error = "the signature does not verify with " + public_path;
        return false;
    }
    return true;
}

}  // namespace installer
