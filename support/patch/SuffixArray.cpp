// Induced sorting after Nong, Zhang and Chan: the text carries a unique smallest sentinel at its
// end, LMS substrings are sorted by induction, named, and sorted recursively when names repeat.
#include "support/patch/SuffixArray.h"

namespace {

/// The bytes as symbols 1..256 with the sentinel 0 after them, without copying them.
struct ByteText {
    const unsigned char* data;
    std::int32_t size;  ///< symbols, the sentinel included
    std::int32_t operator[](std::int32_t i) const { return i + 1 == size ? 0 : data[i] + 1; }
};

/// Names of a reduced level, kept in the suffix array's own upper part.
struct NameText {
    const std::int32_t* names;
    std::int32_t operator[](std::int32_t i) const { return names[i]; }
};

constexpr std::int32_t kByteSymbols = 256;  // largest symbol of ByteText

/// Per-symbol bucket heads (or ends) of the text.
template <class Text>
void Buckets(const Text& s, std::int32_t n, std::vector<std::int32_t>& bucket, std::int32_t k, bool ends)
{
    bucket.assign(static_cast<std::size_t>(k) + 1, 0);
    for (std::int32_t i = 0; i < n; ++i)
        ++bucket[s[i]];
    std::int32_t sum = 0;
    for (std::int32_t c = 0; c <= k; ++c) {
        sum += bucket[c];
        bucket[c] = ends ? sum : sum - bucket[c];
    }
}

template <class Text>
void InduceSorted(const Text& s, std::int32_t* sa, std::int32_t n, std::int32_t k, const std::vector<bool>& isS,
                  std::vector<std::int32_t>& bucket)
{
    Buckets(s, n, bucket, k, false);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t j = sa[i] - 1;
        if (j >= 0 && !isS[j])
            sa[bucket[s[j]]++] = j;
    }
    Buckets(s, n, bucket, k, true);
    for (std::int32_t i = n - 1; i >= 0; --i) {
        const std::int32_t j = sa[i] - 1;
        if (j >= 0 && isS[j])
            sa[--bucket[s[j]]] = j;
    }
}

template <class Text>
void SortSuffixes(const Text& s, std::int32_t* sa, std::int32_t n, std::int32_t k)
{
    std::vector<bool> isS(static_cast<std::size_t>(n));
    isS[n - 1] = true;
    if (n > 1)
        isS[n - 2] = false;
    for (std::int32_t i = n - 3; i >= 0; --i)
        isS[i] = s[i] < s[i + 1] || (s[i] == s[i + 1] && isS[i + 1]);
    const auto isLms = [&](std::int32_t i) { return i > 0 && isS[i] && !isS[i - 1]; };

    // Sort the LMS substrings by induction from their heads placed at their buckets' ends.
    std::vector<std::int32_t> bucket;
    Buckets(s, n, bucket, k, true);
    for (std::int32_t i = 0; i < n; ++i)
        sa[i] = -1;
    for (std::int32_t i = 1; i < n; ++i)
        if (isLms(i))
            sa[--bucket[s[i]]] = i;
    InduceSorted(s, sa, n, k, isS, bucket);

    // Name them: equal substrings share a name.
    std::int32_t lmsCount = 0;
    for (std::int32_t i = 0; i < n; ++i)
        if (isLms(sa[i]))
            sa[lmsCount++] = sa[i];
    for (std::int32_t i = lmsCount; i < n; ++i)
        sa[i] = -1;
    std::int32_t names = 0;
    std::int32_t previous = -1;
    for (std::int32_t i = 0; i < lmsCount; ++i) {
        const std::int32_t pos = sa[i];
        bool differs = false;
        for (std::int32_t d = 0; d < n; ++d) {
            if (previous == -1 || s[pos + d] != s[previous + d] || isS[pos + d] != isS[previous + d]) {
                differs = true;
                break;
            }
            if (d > 0 && (isLms(pos + d) || isLms(previous + d)))
                break;
        }
        if (differs) {
            ++names;
            previous = pos;
        }
        sa[lmsCount + pos / 2] = names - 1;
    }
    for (std::int32_t i = n - 1, j = n - 1; i >= lmsCount; --i)
        if (sa[i] >= 0)
            sa[j--] = sa[i];

    // Order the LMS suffixes: directly when every name is unique, else recursively.
    std::int32_t* reduced = sa + n - lmsCount;
    if (names < lmsCount)
        SortSuffixes(NameText{reduced}, sa, lmsCount, names - 1);
    else
        for (std::int32_t i = 0; i < lmsCount; ++i)
            sa[reduced[i]] = i;

    // Induce the whole order from the sorted LMS suffixes.
    Buckets(s, n, bucket, k, true);
    for (std::int32_t i = 1, j = 0; i < n; ++i)
        if (isLms(i))
            reduced[j++] = i;
    for (std::int32_t i = 0; i < lmsCount; ++i)
        sa[i] = reduced[sa[i]];
    for (std::int32_t i = lmsCount; i < n; ++i)
        sa[i] = -1;
    for (std::int32_t i = lmsCount - 1; i >= 0; --i) {
        const std::int32_t j = sa[i];
        sa[i] = -1;
        sa[--bucket[s[j]]] = j;
    }
    InduceSorted(s, sa, n, k, isS, bucket);
}

}  // namespace

std::vector<std::int32_t> BuildSuffixArray(const unsigned char* data, std::int32_t size)
{
    std::vector<std::int32_t> sa(static_cast<std::size_t>(size) + 1);
    if (size == 0) {
        sa[0] = 0;
        return sa;
    }
    SortSuffixes(ByteText{data, size + 1}, sa.data(), size + 1, kByteSymbols);
    return sa;
}
