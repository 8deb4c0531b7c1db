// The root keys a launcher trusts: up to four P-256 public keys, kept offline by the operator, and
// how many of them must sign a key list. Built into every launcher as text, and carried forward by
// the key lists that rotate them.
#pragma once
#include <string>
#include <vector>

#include "support/Sha256.h"

using PublicKey = std::vector<unsigned char>;  ///< X‖Y, 64 bytes
using Signature = std::vector<unsigned char>;  ///< r‖s, 64 bytes

inline constexpr std::size_t kMaxRootKeys = 4;

struct RootSet {
    unsigned threshold = 0;       ///< how many distinct keys of `keys` must sign; 0: none trusted
    std::vector<PublicKey> keys;  ///< distinct, in the order they were given
};

/// Reads a launcher's built-in root text: "KEY" (one root, threshold 1, as a launcher built with a
/// single update key has always carried it) or "N,KEY,KEY,…" (threshold N). False when it is not
/// one: keys that do not decode to 64 bytes, one key twice, more than four, a threshold of 0 or
/// above the number of keys.
bool ParseRootSetText(const std::string& text, RootSet& roots);
/// The text ParseRootSetText reads, in the same canonical form the build writes.
std::string FormatRootSetText(const RootSet& roots);

/// True when `roots` can vouch for anything: one to four distinct 64-byte keys and a threshold
/// from 1 to their number.
bool IsUsableRootSet(const RootSet& roots);
/// The same keys, in any order, and the same threshold.
bool SameRootSet(const RootSet& a, const RootSet& b);
/// True when `keys` holds `key`.
bool HasKey(const std::vector<PublicKey>& keys, const PublicKey& key);

/// How many keys of `keys` made at least one of `signatures` over `digest`: a key counts once,
/// however many signatures it made.
unsigned CountSigners(const std::vector<PublicKey>& keys, const Sha256Digest& digest,
                      const std::vector<Signature>& signatures);
/// True when at least `roots.threshold` of its keys signed `digest`.
bool MeetsThreshold(const RootSet& roots, const Sha256Digest& digest, const std::vector<Signature>& signatures);
