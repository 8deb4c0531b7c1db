// The publishing tool's whole job: check a release, lay out what the servers serve, write the
// manifest last.
#pragma once
#include <ostream>

#include "tools/publish/PublishOptions.h"
#include "update/ManifestFormat.h"
#include "update/ManifestSignature.h"

/// Exit statuses of the tool.
enum PublishStatus {
    kPublishOk = 0,
    kPublishBadCommandLine = 1,
    kPublishRefused = 2,
    kPublishWriteFailed = 3,
    kPublishVerifyFailed = 4,
};

/// Publishes the release of `options`: refuses it (nothing written) when a name, the base URL
/// or the folders are not acceptable; otherwise copies every file and writes every package
/// under --out at its URL path, each through a temporary file, and writes
/// AutoUpdate\update.xml after all of them, so a server never offers a manifest whose files
/// are not in place yet. Every entry carries its SHA-256; with --sign-key the manifest ends in
/// the signature comment, appended once the document is complete. Progress goes to `out`,
/// problems to `err`.
PublishStatus Publish(const PublishOptions& options, std::ostream& out, std::ostream& err);

/// Checks what a publish wrote to options.verifyDir against the public key file
/// options.publicKey: the manifest's signature, then every entry's SHA-256 against the file at
/// its URL's path below the folder. kPublishOk only when everything matches; every mismatch is
/// named on `err`.
PublishStatus VerifyPublished(const PublishOptions& options, std::ostream& out, std::ostream& err);

/// Signs the manifest of the web root options.refreshDir anew with options.signKey, its Expires set
/// options.expiresDays from now and every other byte before the signature as it was; written
/// through a temporary file, so the manifest is never seen half-written. Only a manifest that the
/// same key signed is signed again (expired or not): anything else is refused, nothing written.
PublishStatus RefreshPublished(const PublishOptions& options, std::ostream& out, std::ostream& err);

/// What is wrong with a manifest's signature, in the operator's words; null when it verified.
const char* SignatureProblem(ManifestSignatureCheck check);
