#include "tools/publish/SigningKey.h"

#include <windows.h>

#include <cstring>

#include "framework/Handles.h"
#include "support/Base64.h"
#include "support/EcdsaP256.h"
#include "update/ManifestSignature.h"

namespace {

const char kPrivateSuffix[] = ".private";
const char kPublicSuffix[] = ".public";
constexpr ULONG kCurveBits = 256;
constexpr DWORD kMaxKeyFileSize = 4096;
const char kWhiteSpace[] = " \t\r\n";

/// Writes `text` to a new file at `path`; false when the file exists or cannot be written.
bool WriteNewFile(const std::string& path, const std::string& text)
{
    kvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool MakeKeyPair(std::vector<unsigned char>& keyPair)
{
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!EcdsaP256Provider() || !BCRYPT_SUCCESS(::BCryptGenerateKeyPair(EcdsaP256Provider(), &handle, kCurveBits, 0)))
        return false;
    const kvo::unique_cng_key key(handle);
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptFinalizeKeyPair(key.get(), 0)) ||
        !BCRYPT_SUCCESS(::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0)))
        return false;
    std::vector<unsigned char> blob(size);
    if (!BCRYPT_SUCCESS(::BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size, &size, 0)) ||
        size != sizeof(BCRYPT_ECCKEY_BLOB) + kP256PrivateKeySize)
        return false;
    keyPair.assign(blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB), blob.end());
    return true;
}

bool WriteNewKey(const std::string& name, std::string& error)
{
    const std::string privatePath = name + kPrivateSuffix;
    const std::string publicPath = name + kPublicSuffix;
    if (FileExists(privatePath) || FileExists(publicPath)) {
        error = privatePath + " or " + publicPath + " exists already; choose another name (nothing was written)";
        return false;
    }
    std::vector<unsigned char> keyPair;
    if (!MakeKeyPair(keyPair)) {
        error = "the system could not make a P-256 key pair";
        return false;
    }
    const std::vector<unsigned char> publicKey(keyPair.begin(), keyPair.begin() + kP256PublicKeySize);
    // No line end after the text: it is given to the build as it stands.
    if (!WriteNewFile(privatePath, EncodeBase64(keyPair))) {
        error = "could not write " + privatePath;
        return false;
    }
    if (!WriteNewFile(publicPath, EncodeBase64(publicKey))) {
        ::DeleteFileA(privatePath.c_str());
        error = "could not write " + publicPath;
        return false;
    }
    return true;
}

bool ReadKeyFile(const std::string& path, std::size_t size, std::vector<unsigned char>& material, std::string& error)
{
    kvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = "cannot read the key file " + path;
        return false;
    }
    std::string text(kMaxKeyFileSize, '\0');
    DWORD got = 0;
    if (!::ReadFile(file.get(), &text[0], kMaxKeyFileSize, &got, nullptr)) {
        error = "cannot read the key file " + path;
        return false;
    }
    text.resize(got);
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    const std::size_t last = text.find_last_not_of(kWhiteSpace);
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    if (!DecodeBase64(text, material) || material.size() != size) {
        error = path + " is not a key file of the right kind (base64 of " + std::to_string(size) + " bytes)";
        return false;
    }
    return true;
}

bool SignManifest(const std::string& document, const std::vector<unsigned char>& keyPair, std::string& comment)
{
    const kvo::unique_cng_key key = ImportP256Key(keyPair);
    if (!key)
        return false;
    Sha256Digest digest = CSha256::Of(document.data(), document.size());
    std::vector<unsigned char> signature(kP256SignatureSize);
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptSignHash(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                         signature.data(), static_cast<ULONG>(signature.size()), &size, 0)) ||
        size != kP256SignatureSize)
        return false;
    comment = FormatSignatureComment(signature);
    return true;
}
