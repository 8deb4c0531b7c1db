// The temporary files that interrupted runs leave beside their targets ("<target>.kvotmp").
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

/// `name` as Windows compares file names: without case.
std::string UpperCased(std::string name);

/// The names (without the directory) of the files in `directory` (no trailing separator) that
/// end exactly in the temporary suffix; folders are left out.
std::vector<std::string> TemporaryFilesIn(const std::string& directory);

/// Finds leftovers with one listing per directory. Asking for each target's temporary file on its
/// own means looking up a name that is almost never there, which costs a search of the whole
/// directory where names are matched without case (as Wine does it): a release of thousands of
/// files in one folder would take time that grows with the square of their number.
class CLeftoverTemporaryFiles {
public:
    /// Removes the temporary file beside `target` (a full path) when an earlier run left one.
    void RemoveBeside(const std::string& target);

private:
    /// Upper-cased names of the temporary files of each directory listed so far.
    std::map<std::string, std::set<std::string>> m_listed;
};
