#include "support/EcdsaP256.h"

#include <cstring>

BCRYPT_ALG_HANDLE EcdsaP256Provider() noexcept
{
    static const kvo::unique_cng_algorithm provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
            handle = nullptr;
        return kvo::unique_cng_algorithm(handle);
    }();
    return provider.get();
}

kvo::unique_cng_key ImportP256Key(const std::vector<unsigned char>& material)
{
    const bool isPair = material.size() == kP256PrivateKeySize;
    if ((!isPair && material.size() != kP256PublicKeySize) || !EcdsaP256Provider())
        return {};
    // The blob is a header followed by the numbers, in the order X, Y[, d].
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + material.size());
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = isPair ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = kP256FieldSize;
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, material.data(), material.size());
    BCRYPT_KEY_HANDLE key = nullptr;
    const NTSTATUS status = ::BCryptImportKeyPair(EcdsaP256Provider(), nullptr,
                                                  isPair ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB, &key,
                                                  blob.data(), static_cast<ULONG>(blob.size()), 0);
    return kvo::unique_cng_key(BCRYPT_SUCCESS(status) ? key : nullptr);
}

bool VerifyP256Signature(const std::vector<unsigned char>& publicKey, const Sha256Digest& digest,
                         const std::vector<unsigned char>& signature)
{
    if (publicKey.size() != kP256PublicKeySize || signature.size() != kP256SignatureSize)
        return false;
    const kvo::unique_cng_key key = ImportP256Key(publicKey);
    if (!key)
        return false;
    Sha256Digest hashed = digest;
    std::vector<unsigned char> rs = signature;
    return BCRYPT_SUCCESS(::BCryptVerifySignature(key.get(), nullptr, hashed.data(), static_cast<ULONG>(hashed.size()),
                                                  rs.data(), static_cast<ULONG>(rs.size()), 0));
}
