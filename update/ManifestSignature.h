// The signature that travels inside update.xml: its last non-white-space bytes are one comment
// "<!-- KvoSignature: BASE64 -->", BASE64 being the raw ECDSA P-256 signature r‖s over the
// SHA-256 of every byte before that comment's "<!--". Launchers that know no key read past it.
#pragma once
#include <string>
#include <vector>

#include "update/RootSet.h"

/// What the check of a fetched manifest found.
enum class ManifestSignatureCheck {
    verified,   ///< signed by the key
    missing,    ///< no signature comment at the end
    malformed,  ///< a signature comment that is not one: bad base64, wrong size, doubled, not last
    invalid,    ///< well formed, but not a signature of these bytes by this key
};

/// Checks `document` (the bytes as fetched) against `publicKey` (X‖Y, 64 bytes); see CTrustedKeys.
ManifestSignatureCheck CheckManifestSignature(const std::string& document, const std::vector<unsigned char>& publicKey);

/// The comment that signs a document with `signature` (r‖s), followed by "\r\n": to append to
/// the complete document whose bytes were signed.
std::string FormatSignatureComment(const std::vector<unsigned char>& signature);

/// Splits a signed document into the bytes that were signed and the signature (r‖s). False, with
/// `missing` telling why, when the document does not end in one well-formed signature comment.
bool SplitSignedManifest(const std::string& document, std::string& signedPart, Signature& signature, bool& missing);
/// The same for a document signed by several keys (a key list): it ends in one to `maxSignatures`
/// signature comments, each over every byte before the first of them.
bool SplitSignedDocument(const std::string& document, std::size_t maxSignatures, std::string& signedPart,
                         std::vector<Signature>& signatures, bool& missing);
