// Makes the patch that turns one file's bytes into another's: the old file's suffixes are sorted,
// the new file is matched against them approximately (runs that differ in a few bytes count as
// matches, so code that moved keeps its bytes), and the three streams are deflated.
#pragma once
#include <cstddef>
#include <string>

/// The patch from `oldData` to `newData`, whole, in the format ApplyPatch reads. Each side must be
/// below 2 GiB (raises std::length_error otherwise); a lack of memory raises std::bad_alloc.
std::string MakePatch(const unsigned char* oldData, std::size_t oldSize, const unsigned char* newData,
                      std::size_t newSize);
