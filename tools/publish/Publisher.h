// The publishing tool's whole job: check a release, lay out what the servers serve, write the
// manifest last.
#pragma once
#include <ostream>

#include "tools/publish/PublishOptions.h"

/// Exit statuses of the tool.
enum PublishStatus {
    kPublishOk = 0,
    kPublishBadCommandLine = 1,
    kPublishRefused = 2,
    kPublishWriteFailed = 3,
};

/// Publishes the release of `options`: refuses it (nothing written) when a name, the base URL
/// or the folders are not acceptable; otherwise copies every file and writes every package
/// under --out at its URL path, each through a temporary file, and writes
/// AutoUpdate\update.xml after all of them, so a server never offers a manifest whose files
/// are not in place yet. Progress goes to `out`, problems to `err`.
PublishStatus Publish(const PublishOptions& options, std::ostream& out, std::ostream& err);
