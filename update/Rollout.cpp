#include "update/Rollout.h"

#include <windows.h>
#include <bcrypt.h>

#include <cctype>
#include <cstdio>

#include "support/Sha256.h"

namespace {

constexpr std::size_t kInstallIdDigits = 16;
constexpr std::size_t kInstallIdBytes = kInstallIdDigits / 2;
constexpr std::size_t kMaxRolloutDigits = 3;
constexpr int kDecimalBase = 10;
constexpr int kBuckets = 100;
constexpr unsigned kByteBits = 8;
constexpr std::size_t kBucketBytes = 4;

}  // namespace

bool ParseRollout(const std::string& text, int& percent)
{
    if (text.empty() || text.size() > kMaxRolloutDigits)
        return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * kDecimalBase + (c - '0');
    }
    if (value > kFullRollout)
        return false;
    percent = value;
    return true;
}

bool IsWellFormedInstallId(const std::string& id)
{
    if (id.size() != kInstallIdDigits)
        return false;
    for (const char c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string MakeInstallId()
{
    unsigned char bytes[kInstallIdBytes] = {};
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return {};
    char text[kInstallIdDigits + 1];
    for (std::size_t i = 0; i < kInstallIdBytes; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", bytes[i]);
    return std::string(text, kInstallIdDigits);
}

int RolloutBucket(const std::string& installId, int version)
{
    if (installId.empty())
        return kLastBucket;
    const std::string text = installId + std::to_string(version);
    const Sha256Digest digest = CSha256::Of(text.data(), text.size());
    std::uint32_t first = 0;
    for (std::size_t i = 0; i < kBucketBytes; ++i)
        first = (first << kByteBits) | digest[i];
    return static_cast<int>(first % kBuckets);
}
