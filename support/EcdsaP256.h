// ECDSA over the P-256 curve through the system's cryptography (CNG): the signatures that make an
// update authentic. Keys and signatures are raw big-endian numbers, as operators exchange them.
#pragma once
#include <cstddef>
#include <vector>

#include "framework/Handles.h"
#include "support/Sha256.h"

inline constexpr std::size_t kP256FieldSize = 32;                      ///< one coordinate or scalar
inline constexpr std::size_t kP256PublicKeySize = 2 * kP256FieldSize;  ///< X‖Y
inline constexpr std::size_t kP256PrivateKeySize = 3 * kP256FieldSize; ///< X‖Y‖d
inline constexpr std::size_t kP256SignatureSize = 2 * kP256FieldSize;  ///< r‖s

/// The process's ECDSA P-256 provider (opened once), or null when the system has none.
BCRYPT_ALG_HANDLE EcdsaP256Provider() noexcept;

/// The CNG key of `material` (X‖Y for a public key, X‖Y‖d for a key pair). Null when the
/// material has the wrong size or the system refuses it (a point that is not on the curve).
kvo::unique_cng_key ImportP256Key(const std::vector<unsigned char>& material);

/// True when `signature` (r‖s) is a valid signature of `digest` by `publicKey` (X‖Y). False for
/// a wrong signature, and for a key or signature that is not of the right size or form.
bool VerifyP256Signature(const std::vector<unsigned char>& publicKey, const Sha256Digest& digest,
                         const std::vector<unsigned char>& signature);
