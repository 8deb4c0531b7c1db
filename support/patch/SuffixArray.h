// The suffix array of a byte string, made in linear time by induced sorting (SA-IS).
#pragma once
#include <cstdint>
#include <vector>

/// The start of every suffix of `data` in sorted order, the empty suffix first: size + 1 entries,
/// the first being `size`. `size` must be below INT32_MAX.
std::vector<std::int32_t> BuildSuffixArray(const unsigned char* data, std::int32_t size);
