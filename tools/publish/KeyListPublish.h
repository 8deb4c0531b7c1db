// KvoPublish --key-list: the next version of the signed key list, made where the root keys live.
#pragma once
#include <ostream>

#include "tools/publish/Publisher.h"

/// Writes the next version of the key list of the web root options.keyListDir: the release keys of
/// options.releasePublics, valid options.expiresDays, the root set in effect from it on (the one
/// before, or options.newRootPublics with options.newThreshold), signed by each options.rootKeys.
/// Refused, nothing written, unless the signing roots reach the threshold of the roots in effect
/// and of the new ones. keys.<N>.xml is written before keys.xml, each through a temporary file.
PublishStatus PublishKeyList(const PublishOptions& options, std::ostream& out, std::ostream& err);
