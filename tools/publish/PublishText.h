// The texts the publishing tool writes into a manifest: URL paths and XML character data.
#pragma once
#include <string>
#include <vector>

/// Percent-encodes one path segment of a URL: the unreserved characters (letters, digits,
/// "-", ".", "_", "~") stay, every other byte becomes "%XX" (upper-case hex). So spaces, "%",
/// "#", "?", "/" and non-ASCII bytes all arrive at the server as the bytes given.
std::string PercentEncodeSegment(const std::string& bytes);

/// True when `path` is a URL path that needs no encoding: unreserved characters and "/" only.
bool IsPlainUrlPath(const std::string& path);

/// Escapes the five characters XML reserves ("&", "<", ">", the two quotes) for element text
/// and attribute values. Bytes of double-byte characters are never among them, so text in the
/// system's ANSI code page passes through unchanged.
std::string XmlEscape(const std::string& text);

/// The text in the system's ANSI code page as UTF-8; false when it is not valid in that code page.
bool AnsiToUtf8(const std::string& ansi, std::string& utf8);

/// UTF-8 text in the system's ANSI code page; false when it cannot be written there exactly.
bool Utf8ToAnsi(const std::string& utf8, std::string& ansi);

/// The bytes of a percent-encoded URL path ("%XX" decoded, everything else as it stands); false
/// for a "%" that is not followed by two hexadecimal digits.
bool PercentDecode(const std::string& encoded, std::string& bytes);

/// The URL path (no leading "/") of a file whose path below the release is `components`
/// (names in the ANSI code page): each name as UTF-8, percent-encoded, joined with "/". UTF-8
/// is what web servers and CDNs map URL paths to file names with. False when a name is not
/// valid in the ANSI code page.
bool UrlPathOf(const std::vector<std::string>& components, std::string& path);

/// `components` joined with `separator`.
std::string JoinComponents(const std::vector<std::string>& components, char separator);
