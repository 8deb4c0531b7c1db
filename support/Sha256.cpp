#include "support/Sha256.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "framework/Exceptions.h"

namespace {

constexpr std::size_t kHexDigitsPerByte = 2;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr int kNotHex = -1;
constexpr int kDecimalDigits = 10;
constexpr std::size_t kFileBlockSize = 64 * 1024;
constexpr std::size_t kStatusTextSize = 96;
const char kHexDigits[] = "0123456789abcdef";

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + kDecimalDigits;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + kDecimalDigits;
    return kNotHex;
}

/// The process's SHA-256 provider: opened once, kept for the life of the process.
BCRYPT_ALG_HANDLE Sha256Provider()
{
    static const kvo::unique_cng_algorithm provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        CheckCngStatus(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
                       "BCryptOpenAlgorithmProvider(SHA256)");
        return kvo::unique_cng_algorithm(handle);
    }();
    return provider.get();
}

}  // namespace

void CheckCngStatus(NTSTATUS status, const char* operation)
{
    if (BCRYPT_SUCCESS(status))
        return;
    char text[kStatusTextSize];
    std::snprintf(text, sizeof text, "%s failed with status 0x%08lx", operation, static_cast<unsigned long>(status));
    throw kvo::CException(text);
}

CSha256::CSha256()
{
    BCRYPT_HASH_HANDLE handle = nullptr;
    // BCRYPT_HASH_REUSABLE_FLAG is not in every Windows this runs on: Finish starts a new hash instead.
    CheckCngStatus(::BCryptCreateHash(Sha256Provider(), &handle, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    m_hash.reset(handle);
}

void CSha256::Update(const void* data, std::size_t size)
{
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, kFileBlockSize));
        CheckCngStatus(::BCryptHashData(m_hash.get(), bytes, part, 0), "BCryptHashData");
        bytes += part;
        size -= part;
    }
}

Sha256Digest CSha256::Finish()
{
    Sha256Digest digest{};
    CheckCngStatus(::BCryptFinishHash(m_hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0),
                   "BCryptFinishHash");
    *this = CSha256();
    return digest;
}

Sha256Digest CSha256::Of(const void* data, std::size_t size)
{
    CSha256 hash;
    hash.Update(data, size);
    return hash.Finish();
}

bool ParseSha256Hex(const std::string& text, Sha256Digest& digest)
{
    if (text.size() != digest.size() * kHexDigitsPerByte)
        return false;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[i * kHexDigitsPerByte]);
        const int low = HexValue(text[i * kHexDigitsPerByte + 1]);
        if (high == kNotHex || low == kNotHex)
            return false;
        digest[i] = static_cast<unsigned char>(high << kNibbleBits | low);
    }
    return true;
}

std::string Sha256Hex(const Sha256Digest& digest)
{
    std::string text;
    for (const unsigned char byte : digest) {
        text.push_back(kHexDigits[byte >> kNibbleBits]);
        text.push_back(kHexDigits[byte & kNibbleMask]);
    }
    return text;
}

bool HashFile(const std::string& path, Sha256Digest& digest)
{
    kvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return false;
    CSha256 hash;
    std::vector<unsigned char> block(kFileBlockSize);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        hash.Update(block.data(), got);
    }
    digest = hash.Finish();
    return true;
}
