#include "support/Sha256.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
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
constexpr std::uint32_t kInitialState[kSha256StateWords] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr unsigned char kPaddingStart = 0x80;
constexpr std::size_t kLengthFieldSize = 8;
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kWordBytes = 4;

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

CSha256::CSha256(Engine engine) : m_bInstructions(engine == Engine::fastest && HasSha256Instructions())
{
    Restart();
}

void CSha256::Restart()
{
    m_nBuffered = 0;
    m_nLength = 0;
    std::copy(std::begin(kInitialState), std::end(kInitialState), m_state);
    if (m_bInstructions)
        return;
    // BCRYPT_HASH_REUSABLE_FLAG is not in every Windows this runs on: a new hash object instead.
    BCRYPT_HASH_HANDLE handle = nullptr;
    CheckCngStatus(::BCryptCreateHash(Sha256Provider(), &handle, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    m_hash.reset(handle);
}

void CSha256::Update(const void* data, std::size_t size)
{
    auto* bytes = static_cast<const unsigned char*>(data);
    if (!m_bInstructions) {
        while (size > 0) {
            const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, kFileBlockSize));
            CheckCngStatus(::BCryptHashData(m_hash.get(), const_cast<PUCHAR>(bytes), part, 0), "BCryptHashData");
            bytes += part;
            size -= part;
        }
        return;
    }
    m_nLength += size;
    if (m_nBuffered > 0) {
        const std::size_t part = std::min(size, kSha256BlockSize - m_nBuffered);
        std::copy(bytes, bytes + part, m_block + m_nBuffered);
        m_nBuffered += part;
        bytes += part;
        size -= part;
        if (m_nBuffered < kSha256BlockSize)
            return;
        Sha256Blocks(m_state, m_block, 1);
        m_nBuffered = 0;
    }
    const std::size_t blocks = size / kSha256BlockSize;
    Sha256Blocks(m_state, bytes, blocks);
    bytes += blocks * kSha256BlockSize;
    size -= blocks * kSha256BlockSize;
    std::copy(bytes, bytes + size, m_block);
    m_nBuffered = size;
}

Sha256Digest CSha256::Finish()
{
    Sha256Digest digest{};
    if (!m_bInstructions) {
        CheckCngStatus(::BCryptFinishHash(m_hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0),
                       "BCryptFinishHash");
        Restart();
        return digest;
    }
    // The padding: 0x80, zeros up to the last eight bytes of a block, the length in bits.
    const std::uint64_t bits = m_nLength * kBitsPerByte;
    unsigned char tail[2 * kSha256BlockSize] = {};
    const std::size_t padded = (m_nBuffered + 1 + kLengthFieldSize <= kSha256BlockSize) ? kSha256BlockSize
                                                                                         : 2 * kSha256BlockSize;
    std::copy(m_block, m_block + m_nBuffered, tail);
    tail[m_nBuffered] = kPaddingStart;
    std::fill(tail + m_nBuffered + 1, tail + padded, 0);
    for (std::size_t i = 0; i < kLengthFieldSize; ++i)
        tail[padded - 1 - i] = static_cast<unsigned char>(bits >> (kBitsPerByte * i));
    Sha256Blocks(m_state, tail, padded / kSha256BlockSize);
    for (std::size_t word = 0; word < kSha256StateWords; ++word) {
        for (std::size_t i = 0; i < kWordBytes; ++i)
            digest[word * kWordBytes + i] = static_cast<unsigned char>(m_state[word] >> (kBitsPerByte * (kWordBytes - 1 - i)));
    }
    Restart();
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

std::uint64_t HashFileRest(kvo::CFile& file, CSha256& hash)
{
    std::vector<unsigned char> block(kFileBlockSize);
    std::uint64_t total = 0;
    while (const unsigned got = file.Read(block.data(), static_cast<unsigned>(block.size()))) {
        hash.Update(block.data(), got);
        total += got;
    }
    return total;
}

bool HashFile(const std::string& path, Sha256Digest& digest)
{
    kvo::CFile file;
    if (!file.Open(path.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyNone))
        return false;
    try {
        CSha256 hash;
        HashFileRest(file, hash);
        digest = hash.Finish();
        return true;
    } catch (const kvo::CFileException&) {
        return false;
    }
}
