// The manifest's format, as the launcher reads it and the publishing tool writes it: where it lies
// on an update host, its elements and attributes, and the text of its flags.
#pragma once

namespace manifest {

/// The manifest's address below an update host ("http://" + host + kServerPath).
inline constexpr char kServerPath[] = "/AutoUpdate/update.xml";
/// The same place below a web root on the publisher's disk.
inline constexpr char kWebRootPath[] = "\\AutoUpdate\\update.xml";

inline constexpr char kRoot[] = "UpdateInfo";
inline constexpr char kProduct[] = "Product";
inline constexpr char kMirror[] = "Mirror";
inline constexpr char kFile[] = "File";

// Attributes of the Product.
inline constexpr char kProductName[] = "productname";
inline constexpr char kFileCount[] = "filenum";
inline constexpr char kVersion[] = "Ver";
inline constexpr char kExpires[] = "Expires";
inline constexpr char kRollout[] = "Rollout";
/// When it was signed (a UTC time, as Expires): never older than the last manifest taken.
inline constexpr char kIssued[] = "Issued";
/// The version of the key list whose release key signed it.
inline constexpr char kKeyList[] = "Keys";

// Child elements of a File, in the order the publishing tool writes them.
inline constexpr char kFileName[] = "FileName";
inline constexpr char kFileVersion[] = "FileVersion";
inline constexpr char kLength[] = "Length";
inline constexpr char kLocalPath[] = "LocalPath";
inline constexpr char kUrl[] = "URL";
inline constexpr char kFileDateHigh[] = "FileDateHigh";
inline constexpr char kFileDateLow[] = "FileDateLow";
inline constexpr char kRegister[] = "Register";
inline constexpr char kZipFile[] = "ZipFile";
inline constexpr char kForceOverwrite[] = "ForceOverwrite";
inline constexpr char kExecute[] = "Execute";
inline constexpr char kSha256[] = "SHA256";
// Written after those, and ignored by launchers that do not know them: patches of a file (one
// element each, its URL as text), and a package's index hash and ranges of changed entries.
inline constexpr char kPatch[] = "Patch";
inline constexpr char kIndex[] = "Index";
inline constexpr char kDelta[] = "Delta";
// Attributes of Patch and Delta, and of Index (the package's central directory: kOffset, kLength
// and kSha256).
inline constexpr char kSource[] = "Source";
inline constexpr char kFrom[] = "From";
inline constexpr char kOffset[] = "Offset";
/// Delta's text: the removed entries' names, separated by this character (no file name holds it).
inline constexpr char kRemovedSeparator = '|';

/// A flag is on unless its text is exactly kFlagOff; the publishing tool writes kFlagOn.
inline constexpr char kFlagOn[] = "YES";
inline constexpr char kFlagOff[] = "NO";

}  // namespace manifest
