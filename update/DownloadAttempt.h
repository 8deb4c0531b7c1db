// One attempt at downloading a manifest entry, and what it tells the next attempt.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "update/UpdateFileEntry.h"

class CKvoLauncherDlg;

/// What the retry loop does after an attempt.
enum class AttemptOutcome {
    done,             ///< the file is in place (or the package was installed, or failed to be)
    retry,            ///< may pass; the bytes kept in the temporary file are resumed
    retryFromStart,   ///< may pass; the kept bytes were discarded, the next attempt starts over
    fail,             ///< will not pass by trying again
};

struct AttemptResult {
    DWORD error = ERROR_SUCCESS;
    AttemptOutcome outcome = AttemptOutcome::done;
};

/// What one attempt hands the next.
struct TransferState {
    bool resume = true;            ///< go on from the temporary file's bytes, when the entry has a hash
    std::uint32_t total = 0;       ///< the file's full length as announced before; 0 when unknown
};

/// One GET of `entry` (a range request for the rest when the entry carries SHA256 and its
/// temporary file holds bytes), checked and put in place as the download's contract says.
AttemptResult DownloadAttempt(CKvoLauncherDlg& dialog, const UpdateFileEntry& entry, TransferState& state);

/// True for the errors of a transfer that may pass by trying again: connection refused, reset or
/// aborted, a time-out, a name that did not resolve, a body cut short.
bool IsPassingTransferError(DWORD error);

/// True for HTTP statuses worth another try: 5xx, 408 and 429.
bool IsPassingHttpStatus(DWORD status);

/// The first byte, last byte and total of a Content-Range "bytes N-M/T"; false for anything else.
bool ParseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& last, std::uint64_t& total);
