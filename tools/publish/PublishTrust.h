// What a publish must agree with in the key lists of its web root: the key that signs the
// manifest, the roots of a launcher it ships, and the manifest's Issued and Keys.
#pragma once
#include <string>
#include <vector>

#include "tools/publish/KeyListFiles.h"
#include "update/LauncherCheck.h"

/// The public key (X‖Y) of a key pair read from a .private file (X‖Y‖d).
PublicKey PublicHalf(const std::vector<unsigned char>& keyPair);

/// Why `signingKey` (a key pair; empty: unsigned) must not sign the manifest of a web root with
/// `keys`, or "" when it may: with a key list, only a release key of the newest list signs.
std::string SigningKeyRefusal(const std::vector<unsigned char>& signingKey, const PublishedKeys& keys);

/// Why a launcher built with the roots of `image` must not be shipped with a manifest signed by
/// `signingKey`, or "" when it may: its roots must be the root set in effect (the newest key list's,
/// or without a list the signing key alone), or it would refuse what comes next.
std::string LauncherTrustRefusal(const LauncherImage& image, const std::vector<unsigned char>& signingKey,
                                 const PublishedKeys& keys);

/// Sets the manifest's Issued to now and, with a key list, its Keys to the list's version: the last
/// step before it is signed. False when the document has no Product element.
bool StampSignedManifest(std::string& document, const PublishedKeys& keys);

/// True when `document` is signed by `signingKey` or by a release key of any key list kept in the
/// web root: a manifest the operator signed, which a refresh may sign anew.
bool SignedByPublisher(const std::string& document, const std::vector<unsigned char>& signingKey,
                       const PublishedKeys& keys);
