// The SHA-256 block function on the processor's SHA extensions. The system's own SHA-256 is
// used wherever these are missing; where they exist, hashing a download costs next to nothing.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kSha256BlockSize = 64;
inline constexpr std::size_t kSha256StateWords = 8;

/// True when the processor has the SHA extensions (with SSSE3 and SSE4.1) that Sha256Blocks uses.
bool HasSha256Instructions() noexcept;

/// Runs the compression function over `blocks` 64-byte blocks at `data`, updating `state`
/// (H0..H7). Only where HasSha256Instructions() is true.
void Sha256Blocks(std::uint32_t state[kSha256StateWords], const unsigned char* data, std::size_t blocks) noexcept;
