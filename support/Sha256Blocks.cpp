#include "support/Sha256Blocks.h"

#include <cpuid.h>
#include <immintrin.h>

#include "framework/StackAlignment.h"

namespace {

constexpr unsigned kFeatureLeaf = 1;
constexpr unsigned kExtendedFeatureLeaf = 7;
constexpr unsigned kSsse3Bit = 1u << 9;    // leaf 1, ECX
constexpr unsigned kSse41Bit = 1u << 19;   // leaf 1, ECX
constexpr unsigned kShaBit = 1u << 29;     // leaf 7, EBX
constexpr int kRoundGroups = 16;           // 64 rounds, four at a time
constexpr int kLoadedGroups = 4;           // the block's own sixteen words
constexpr int kWordBytes = 4;

alignas(16) constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

}  // namespace

bool HasSha256Instructions() noexcept
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(kFeatureLeaf, &eax, &ebx, &ecx, &edx) || (ecx & (kSsse3Bit | kSse41Bit)) != (kSsse3Bit | kSse41Bit))
        return false;
    if (!__get_cpuid_count(kExtendedFeatureLeaf, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return (ebx & kShaBit) != 0;
}

// Called on download workers: the frame is realigned before the first 16-byte stack operand.
__attribute__((target("sha,sse4.1,ssse3"))) KVO_REALIGNS_STACK void Sha256Blocks(
    std::uint32_t state[kSha256StateWords], const unsigned char* data, std::size_t blocks) noexcept
{
    // Big-endian words of the message, and the state as the instructions want it: ABEF and CDGH.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, data += kSha256BlockSize) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i words[kLoadedGroups];  // the last four groups of the message schedule
        for (int group = 0; group < kRoundGroups; ++group) {
            __m128i message;
            if (group < kLoadedGroups) {
                message = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + group * kLoadedGroups * kWordBytes)),
                    byteSwap);
            } else {
                __m128i next = _mm_sha256msg1_epu32(words[(group - 4) & 3], words[(group - 3) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(words[(group - 1) & 3], words[(group - 2) & 3], 4));
                message = _mm_sha256msg2_epu32(next, words[(group - 1) & 3]);
            }
            words[group & 3] = message;
            const __m128i withConstants = _mm_add_epi32(
                message, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[group * 4])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, withConstants);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(withConstants, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}
