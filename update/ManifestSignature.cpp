#include "update/ManifestSignature.h"

#include <cstring>

#include "support/Base64.h"
#include "support/EcdsaP256.h"

namespace {

const char kCommentStart[] = "<!--";
const char kSignaturePrefix[] = "<!-- KvoSignature: ";
const char kSignatureSuffix[] = " -->";
const char kLineEnd[] = "\r\n";
const char kTrailingSpace[] = "\r\n \t";

bool EndsWith(const std::string& text, std::size_t end, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return end >= length && text.compare(end - length, length, suffix) == 0;
}

}  // namespace

bool SplitSignedDocument(const std::string& document, std::size_t maxSignatures, std::string& signedPart,
                         std::vector<Signature>& signatures, bool& missing)
{
    missing = false;
    signatures.clear();
    std::size_t signedEnd = document.size();
    // Signature comments are peeled off the end, the last first; the signed bytes end where the
    // first of them starts.
    while (signatures.size() < maxSignatures) {
        const std::size_t lastByte =
            signedEnd == 0 ? std::string::npos : document.find_last_not_of(kTrailingSpace, signedEnd - 1);
        const std::size_t end = lastByte == std::string::npos ? 0 : lastByte + 1;
        const std::size_t start = end == 0 ? std::string::npos : document.rfind(kCommentStart, end - 1);
        const bool signatureLast = start != std::string::npos && EndsWith(document, end, kSignatureSuffix) &&
                                   document.compare(start, std::strlen(kSignaturePrefix), kSignaturePrefix) == 0;
        if (!signatureLast)
            break;
        const std::size_t textStart = start + std::strlen(kSignaturePrefix);
        const std::size_t textEnd = end - std::strlen(kSignatureSuffix);
        Signature signature;
        if (textEnd < textStart || !DecodeBase64(document.substr(textStart, textEnd - textStart), signature) ||
            signature.size() != kP256SignatureSize)
            return false;
        signatures.insert(signatures.begin(), std::move(signature));
        signedEnd = start;
    }
    if (signatures.empty()) {
        // A signature comment somewhere else was put there by someone: say so rather than "none".
        missing = document.find(kSignaturePrefix) == std::string::npos;
        return false;
    }
    signedPart.assign(document, 0, signedEnd);
    // A signature comment inside the signed bytes makes their meaning unclear.
    return signedPart.find(kSignaturePrefix) == std::string::npos;
}

bool SplitSignedManifest(const std::string& document, std::string& signedPart, Signature& signature, bool& missing)
{
    std::vector<Signature> signatures;
    if (!SplitSignedDocument(document, 1, signedPart, signatures, missing))
        return false;
    signature = std::move(signatures.front());
    return true;
}

std::string FormatSignatureComment(const std::vector<unsigned char>& signature)
{
    return kSignaturePrefix + EncodeBase64(signature) + kSignatureSuffix + kLineEnd;
}
