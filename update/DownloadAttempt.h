// One attempt at downloading a manifest entry: the transfer, its checks, and what it tells the
// next attempt. Whether and when there is a next attempt is the retry loop's (update/Download).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "update/EntryRoad.h"

class CUpdateEngine;

/// What the retry loop may do after an attempt.
enum class AttemptOutcome {
    done,             ///< the file is in place (or the package was installed, or failed to be)
    retry,            ///< may pass; the bytes kept in the temporary file are resumed
    retryFromStart,   ///< may pass; the kept bytes were discarded, the next attempt starts over
    tryElsewhere,     ///< will not pass at this address (a status such as 404 or 403, a malformed or wrong length,
                      ///< a wrong whole body, a certificate or redirect failure); another may serve it
    fail,             ///< a local failure (the disk, a refused name or launcher, a wrong module version): will not
                      ///< pass by trying again anywhere
};

struct AttemptResult {
    DWORD error = ERROR_SUCCESS;
    AttemptOutcome outcome = AttemptOutcome::done;
};

/// What becomes of a body that arrived whole and passed its checks, when it is not the entry's
/// file itself (a patch, a part of a package).
class IReceivedBody {
public:
    virtual ~IReceivedBody() = default;
    /// Takes the checked body, open in `body`; `done` when it was used, `fail` with the reason
    /// otherwise (no other address is asked then).
    virtual AttemptResult Take(CTempFileBeside& body) = 0;
};

/// What one attempt hands the next.
struct TransferState {
    bool resume = true;            ///< go on from the temporary file's bytes, when the entry has a hash
    std::uint32_t total = 0;       ///< the file's full length as announced before; 0 when unknown
};

/// One GET of the road's entry from `url` (a range request for the rest when its bytes can be
/// checked and its temporary file holds some; one bounded range for a part), checked and put in
/// place: the body goes to a temporary file beside the target, which replaces the target (or is
/// installed, for a package) only when it holds exactly the announced length, the listed SHA-256
/// and, for a module, its version. With `taker`, the checked body goes to it instead. Progress
/// goes to the engine's counters and listener. A part whose range the server does not honour
/// fails with kErrorRangesIgnored.
AttemptResult DownloadAttempt(CUpdateEngine& engine, const EntryRoad& road, const std::string& url,
                              TransferState& state, IReceivedBody* taker = nullptr);

/// Checks a complete body of the road's entry (`received` its SHA-256) through the handle that
/// wrote it, and stages it: the last step of every road that makes the entry's file.
AttemptResult StageReceivedFile(CUpdateEngine& engine, const EntryRoad& road, CTempFileBeside& body,
                                const Sha256Digest& received);

/// True for the errors of a transfer that may pass by trying again: connection refused, reset or
/// aborted, a time-out, a name that did not resolve, a body cut short.
bool IsPassingTransferError(DWORD error);

/// True for HTTP statuses worth another try: 5xx, 408 and 429.
bool IsPassingHttpStatus(DWORD status);

/// The first byte, last byte and total of a Content-Range "bytes N-M/T"; false for anything else.
bool ParseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& last, std::uint64_t& total);

/// The announced length of a response from its Content-Length text: decimal digits only, at most
/// INT32_MAX. False for anything else (empty, signed, trailing text, too large).
bool ParseAnnouncedLength(const std::string& text, std::uint32_t& length);
