// The limits of one file download and the text of its progress label.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

/// How long a download waits for the server's next bytes (the response's headers, or the next
/// block of its body) before it gives up: a server that accepts and then falls silent ends the
/// download on its failure path within this time.
constexpr DWORD kDownloadReceiveTimeoutMs = 30000;

/// Error numbers of the download's own checks, as the run logs them in "<name> 更新失败 <number>"
/// (application-defined codes: bit 29 set, so they never meet a system error number).
/// The body's SHA-256 is not the entry's SHA256 (or that text is not 64 hexadecimal digits).
constexpr DWORD kErrorHashMismatch = 0x20000001;
/// The downloaded module's own version resource is missing or older than the entry's FileVersion,
/// or the image is cut short (its sections reach past the end of the file).
constexpr DWORD kErrorVersionMismatch = 0x20000002;
/// A new copy of the running launcher that could strand the installation: not a whole image of
/// the running one's machine type and subsystem, or without the update key the running one has.
constexpr DWORD kErrorLauncherRefused = 0x20000003;

/// How many more times a download that failed for a reason that may pass is tried, and the
/// waits before each of those tries.
constexpr unsigned kDownloadRetries = 3;
constexpr unsigned kRetryDelaysSeconds[kDownloadRetries] = {1, 2, 4};

/// Replaces the receive time-out of later downloads; 0 restores kDownloadReceiveTimeoutMs.
/// For tests, which cannot wait half a minute for every silent server.
void SetDownloadReceiveTimeoutForTesting(DWORD timeoutMs) noexcept;
/// The receive time-out in force.
DWORD DownloadReceiveTimeoutMs() noexcept;

/// Limits later downloads to `retries` retries (at most kDownloadRetries) and makes each second
/// of their waits `secondMs` long (0: a real second). For tests.
void SetDownloadRetriesForTesting(unsigned retries, DWORD secondMs) noexcept;

/// The progress label's text: "<percent> %(<position>/<count>)", e.g. "37 %(2/5)". The percentage
/// is the whole part of received * 100 / announced, computed without overflow; 100 when nothing
/// was announced.
std::string DownloadProgressText(std::uint32_t received, std::uint32_t announced, int position, int count);

/// The announced length of a response from its Content-Length text: decimal digits only, at most
/// INT32_MAX. False for anything else (empty, signed, trailing text, too large).
bool ParseAnnouncedLength(const std::string& text, std::uint32_t& length);
