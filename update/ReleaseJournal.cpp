#include "update/ReleaseJournal.h"

#include <cstdlib>

namespace {

const char kHeader[] = "KvoRelease 1";
const char kFromKey[] = "from ";
const char kToKey[] = "to ";
const char kFileKey[] = "file ";
const char kBeginLine[] = "commit";
const char kLineEnd[] = "\r\n";
constexpr int kDecimalBase = 10;

/// The lines of `text`, without their ends.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

/// `text` after `key` when it starts with it.
bool After(const std::string& text, const char* key, std::string& rest)
{
    const std::string prefix(key);
    if (text.compare(0, prefix.size(), prefix) != 0)
        return false;
    rest = text.substr(prefix.size());
    return true;
}

/// A whole decimal number, nothing before or after it.
bool ReadNumber(const std::string& text, unsigned& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, kDecimalBase));
    return true;
}

/// "file <name> <0|1> <target to the end of the line>"
bool ReadEntry(const std::string& line, JournalEntry& entry)
{
    std::string rest;
    if (!After(line, kFileKey, rest))
        return false;
    const std::size_t nameEnd = rest.find(' ');
    if (nameEnd == std::string::npos || nameEnd == 0 || rest.size() < nameEnd + 4 || rest[nameEnd + 2] != ' ' ||
        (rest[nameEnd + 1] != '0' && rest[nameEnd + 1] != '1'))
        return false;
    entry.stagedName = rest.substr(0, nameEnd);
    entry.hadOld = rest[nameEnd + 1] == '1';
    entry.target = rest.substr(nameEnd + 3);
    return true;
}

}  // namespace

std::string JournalText(const ReleaseJournal& journal)
{
    std::string text = std::string(kHeader) + kLineEnd + kFromKey + std::to_string(journal.fromVersion) + kLineEnd +
                       kToKey + std::to_string(journal.toVersion) + kLineEnd;
    for (const JournalEntry& entry : journal.entries)
        text += kFileKey + entry.stagedName + (entry.hadOld ? " 1 " : " 0 ") + entry.target + kLineEnd;
    return text + kBeginLine + kLineEnd;
}

ReleaseJournal ParseJournal(const std::string& text)
{
    ReleaseJournal journal;
    const std::vector<std::string> lines = Lines(text);
    std::string from;
    std::string to;
    if (lines.size() < 4 || lines[0] != kHeader || !After(lines[1], kFromKey, from) ||
        !ReadNumber(from, journal.fromVersion) || !After(lines[2], kToKey, to) || !ReadNumber(to, journal.toVersion))
        return {};
    std::size_t at = 3;
    for (; at < lines.size() && lines[at] != kBeginLine; ++at) {
        JournalEntry entry;
        if (!ReadEntry(lines[at], entry))
            return {};
        journal.entries.push_back(entry);
    }
    if (at == lines.size())
        return {};  // the commit never began
    journal.state = ReleaseJournal::State::pending;
    for (++at; at < lines.size(); ++at) {
        if (lines[at] + kLineEnd == journal::kCompleteLine && journal.state == ReleaseJournal::State::pending)
            journal.state = ReleaseJournal::State::complete;
        else if (lines[at] + kLineEnd == journal::kUndoLine)
            journal.state = ReleaseJournal::State::undoing;
    }
    return journal;
}
