// One file of the update manifest, carried by value through the run.
#pragma once
#include <string>

struct UpdateFileEntry {
    std::string FileName;     ///< relative to the program directory, backslash-separated
    std::string FileVersion;  ///< "a.b.c.d" as the local check formats versions
    int Length = 0;
    std::string LocalPath;
    int FileDateLow = 0;
    int FileDateHigh = 0;
    std::string URL;
    bool Register = true;
    bool ZipFile = true;
    bool ForceOverwrite = true;
    bool Execute = true;
    std::string SHA256;       ///< 64 hexadecimal digits of the file's SHA-256; empty when not given
};
