#include "support/Base64.h"

#include <algorithm>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::size_t kGroupChars = 4;
constexpr std::size_t kGroupBytes = 3;
constexpr unsigned kSextetBits = 6;
constexpr unsigned kByteBits = 8;
constexpr unsigned kSextetMask = 0x3F;
constexpr unsigned kByteMask = 0xFF;
constexpr int kNotInAlphabet = -1;

int SextetOf(char c)
{
    for (int i = 0; kAlphabet[i]; ++i) {
        if (kAlphabet[i] == c)
            return i;
    }
    return kNotInAlphabet;
}

}  // namespace

std::string EncodeBase64(const std::vector<unsigned char>& data)
{
    std::string text;
    text.reserve((data.size() + kGroupBytes - 1) / kGroupBytes * kGroupChars);
    for (std::size_t at = 0; at < data.size(); at += kGroupBytes) {
        const std::size_t count = std::min(kGroupBytes, data.size() - at);
        unsigned group = 0;
        for (std::size_t i = 0; i < kGroupBytes; ++i)
            group = group << kByteBits | (i < count ? data[at + i] : 0u);
        for (std::size_t i = 0; i < kGroupChars; ++i) {
            const unsigned sextet = group >> (kSextetBits * (kGroupChars - 1 - i)) & kSextetMask;
            text.push_back(i <= count ? kAlphabet[sextet] : kPad);
        }
    }
    return text;
}

bool DecodeBase64(const std::string& text, std::vector<unsigned char>& data)
{
    if (text.size() % kGroupChars != 0)
        return false;
    data.clear();
    data.reserve(text.size() / kGroupChars * kGroupBytes);
    for (std::size_t at = 0; at < text.size(); at += kGroupChars) {
        const bool lastGroup = at + kGroupChars == text.size();
        unsigned group = 0;
        std::size_t padding = 0;
        for (std::size_t i = 0; i < kGroupChars; ++i) {
            const char c = text[at + i];
            if (c == kPad && lastGroup && i >= kGroupChars - 2) {
                ++padding;
                group <<= kSextetBits;
                continue;
            }
            const int sextet = SextetOf(c);
            if (sextet == kNotInAlphabet || padding > 0)  // nothing may follow the padding
                return false;
            group = group << kSextetBits | static_cast<unsigned>(sextet);
        }
        for (std::size_t i = 0; i < kGroupBytes - padding; ++i)
            data.push_back(static_cast<unsigned char>(group >> (kByteBits * (kGroupBytes - 1 - i)) & kByteMask));
        // Bits of a padded group that no byte takes must be zero: one text per byte string.
        const unsigned unusedBits = group & ((1u << (kByteBits * padding)) - 1);
        if (unusedBits != 0)
            return false;
    }
    return true;
}
