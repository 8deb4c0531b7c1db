// The format of a patch that turns one file's bytes into another's. A fixed header, then three
// zlib streams one after another:
//  - control: per step, three varints: bytes made by adding to the old file, bytes copied from the
//    extra stream, and how far the old position then moves (zigzag-signed);
//  - difference: the bytes added to the old file's bytes, byte by byte, modulo 256, run-coded: a
//    zero byte is followed by a varint, the number of zero bytes it stands for (at least 1); the
//    differences of matched code are mostly zero, and deflate codes these runs better;
//  - extra: bytes of the new file that come from nowhere in the old one.
// The new file is made front to back, so it can be written as it is made.
#pragma once
#include <cstddef>
#include <cstdint>

namespace patch {

inline constexpr char kMagic[8] = {'K', 'V', 'O', 'P', 'T', 'C', 'H', '1'};
inline constexpr std::size_t kMagicSize = sizeof kMagic;
/// Magic, then five little-endian 64-bit numbers: old length, new length, and the compressed
/// lengths of the control, difference and extra streams.
inline constexpr std::size_t kHeaderNumbers = 5;
inline constexpr std::size_t kHeaderSize = kMagicSize + kHeaderNumbers * sizeof(std::uint64_t);

/// Largest file either side may have: lengths beyond it are refused as corrupt.
inline constexpr std::uint64_t kMaxFileLength = std::uint64_t{1} << 40;

}  // namespace patch
