// Helpers of the archive tests that run both under Wine and natively.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"

class CUnzipFile;

/// An archive of `bytes` written to a throw-away file.
struct ArchiveFile {
    explicit ArchiveFile(const std::string& bytes) { WriteWholeFile(path, bytes); }
    TempDir dir;
    std::string path = dir / "test.zip";
};

/// A fixture archive made by tools/make_zip_fixtures.py.
std::string FixturePath(const std::string& name);
/// Every file of the seed corpus of the archive fuzzer.
std::vector<std::string> CorpusFiles();

/// Runs `action`: the cause of the CZipException it raised, 0 when it raised nothing, -1 when it
/// raised something else.
int ZipCause(const std::function<void()>& action);

/// The rest of the open entry, read in pieces of `piece` bytes until a read returns 0 or less.
std::string ReadOpenEntry(CUnzipFile& archive, unsigned piece);
/// The whole content of the current entry, read in pieces of `piece` bytes (opens and closes it).
std::string ReadCurrentEntry(CUnzipFile& archive, unsigned piece);
/// The current entry's name as stored.
std::string CurrentName(CUnzipFile& archive);
