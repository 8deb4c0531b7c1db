// Where each entry of an archive starts, read from its central directory alone: the bytes from the
// directory's first record to the end of the archive, fetched apart from the entries.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

/// The local header offset of every entry of the central directory `directory` (`size` bytes:
/// records, then the end record), by the entry's name as stored. False for anything else: a record
/// that does not fit, or no end record right after the last one.
bool ReadEntryOffsets(const unsigned char* directory, std::size_t size, std::map<std::string, std::uint32_t>& offsets);
