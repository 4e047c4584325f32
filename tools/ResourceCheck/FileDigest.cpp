#include "tools/ResourceCheck/FileDigest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace resourcecheck {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

std::string Hex(const unsigned char* bytes, unsigned int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2u);
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

std::optional<std::string> Sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    char block[64 * 1024];
    while (in) {
        in.read(block, sizeof(block));
        const std::streamsize got = in.gcount();
        if (got > 0 && EVP_DigestUpdate(context.get(), block, static_cast<size_t>(got)) != 1) return std::nullopt;
    }
    if (in.bad()) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
    return Hex(digest, length);
}

}  // namespace resourcecheck
