// Staged rollouts: a release reaches a share of the installations first. Each installation keeps
// a private random id; with the release's version it gives a bucket from 0 to 99, and an update is
// taken only when the bucket is below the manifest's Rollout. The bucket changes with the release,
// so the same installations are not always the first.
#pragma once
#include <string>

/// The share of installations a manifest without Rollout reaches: all of them.
inline constexpr int kFullRollout = 100;
/// The bucket of an installation that cannot keep an id: the last, so that the oddest machines are
/// never among the first share of a rollout, the one meant to find problems.
inline constexpr int kLastBucket = kFullRollout - 1;

/// Rollout's text: a whole number from 0 to 100, decimal digits only; false for anything else.
bool ParseRollout(const std::string& text, int& percent);

/// True for 16 hexadecimal digits, as an installation id is stored.
bool IsWellFormedInstallId(const std::string& id);

/// A new installation id from the system's random source; "" when it gives none.
std::string MakeInstallId();

/// The first four bytes (big-endian) of the SHA-256 of `installId` followed by the decimal
/// `version`, modulo 100. An empty id (one that could not be kept) is in kLastBucket.
int RolloutBucket(const std::string& installId, int version);
