// What a package holds, entry by entry: the index that lets a launcher fetch only the entries of a
// package that changed. The publishing tool hashes it into the manifest; the launcher keeps the
// index of what it last installed beside the installation, and trusts it only while its hash is
// one that a signed manifest names.
#pragma once
#include <map>
#include <string>

#include "support/Sha256.h"

/// Each file entry's name, as the package stores it ("/"-separated), and the SHA-256 of its bytes.
using PackageIndex = std::map<std::string, Sha256Digest>;

/// The canonical text: one line "<64 hex digits> <name>\n" per entry, names in byte order.
std::string FormatPackageIndex(const PackageIndex& index);
/// The index of a canonical text; false for any other text (an edited or cut file).
bool ParsePackageIndex(const std::string& text, PackageIndex& index);
/// The SHA-256 of the canonical text, as the manifest's Index and Delta From carry it.
Sha256Digest PackageIndexHash(const PackageIndex& index);

/// The folder, below the installation, where the launcher keeps the index of each package.
inline constexpr char kKeptIndexFolderName[] = "KvoPackages";
inline constexpr char kKeptIndexFolder[] = "KvoPackages\\";
/// Where the index of the package `fileName` (the manifest's FileName) is kept, relative to the
/// installation.
std::string KeptIndexName(const std::string& fileName);
