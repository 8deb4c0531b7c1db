// Makes a new file from an old one and a patch, streaming: the patch and the old file are read
// where they are needed, the new file goes out front to back, and the working set is a few
// buffers whatever the files' sizes. Patches come from the network: every number is checked
// before it is used.
#pragma once
#include <cstddef>
#include <cstdint>

#include "framework/File.h"

/// Where the new file goes.
class IPatchOutput {
public:
    virtual ~IPatchOutput() = default;
    /// The next `size` bytes of the new file. May raise to stop the patch.
    virtual void Write(const unsigned char* data, std::size_t size) = 0;
};

enum class PatchResult {
    applied,
    notAPatch,        ///< no patch header
    wrongOldFile,     ///< made for an old file of another length
    corrupt,          ///< a stream that does not inflate, ends early or goes on, or steps out of bounds
};

/// Applies the patch in `patchFile` to the old file's bytes in `oldFile`, writing the new file to
/// `output`. Reads both files from their starts (seeking them as it needs). Raises what the files
/// and `output` raise; a lack of memory raises std::bad_alloc.
PatchResult ApplyPatch(kvo::CFile& patchFile, kvo::CFile& oldFile, IPatchOutput& output);
