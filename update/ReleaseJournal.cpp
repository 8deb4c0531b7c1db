#include "update/ReleaseJournal.h"

#include <sstream>

namespace {

const char kHeader[] = "KvoRelease 1";
const char kFromKey[] = "from";
const char kToKey[] = "to";
const char kFileKey[] = "file";
const char kBeginLine[] = "commit";
const char kLineEnd[] = "\r\n";

/// The lines of `text`, without their ends.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ReadVersion(const std::string& line, const char* key, unsigned& version)
{
    std::istringstream in(line);
    std::string word;
    unsigned long value = 0;
    if (!(in >> word >> value) || word != key || !(in >> std::ws).eof())
        return false;
    version = static_cast<unsigned>(value);
    return true;
}

/// "file <name> <0|1> <target to the end of the line>"
bool ReadEntry(const std::string& line, JournalEntry& entry)
{
    std::istringstream in(line);
    std::string word;
    int hadOld = 0;
    if (!(in >> word >> entry.stagedName >> hadOld) || word != kFileKey ||
        (hadOld != 0 && hadOld != 1) || in.get() != ' ')
        return false;
    entry.hadOld = hadOld == 1;
    std::getline(in, entry.target);
    return !entry.target.empty();
}

}  // namespace

std::string JournalText(const ReleaseJournal& journal)
{
    std::ostringstream out;
    out << kHeader << kLineEnd << kFromKey << ' ' << journal.fromVersion << kLineEnd << kToKey << ' '
        << journal.toVersion << kLineEnd;
    for (const JournalEntry& entry : journal.entries)
        out << kFileKey << ' ' << entry.stagedName << ' ' << (entry.hadOld ? 1 : 0) << ' ' << entry.target << kLineEnd;
    out << kBeginLine << kLineEnd;
    return out.str();
}

ReleaseJournal ParseJournal(const std::string& text)
{
    ReleaseJournal journal;
    const std::vector<std::string> lines = Lines(text);
    std::size_t at = 0;
    if (lines.size() < 4 || lines[at++] != kHeader || !ReadVersion(lines[at++], kFromKey, journal.fromVersion) ||
        !ReadVersion(lines[at++], kToKey, journal.toVersion))
        return {};
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
