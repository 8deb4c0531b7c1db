// The journal of a release's commit: every replacement and both versions, written and flushed
// before the first installed file is touched, so that a commit cut at any point can be finished
// or undone at the next start.
#pragma once
#include <string>
#include <vector>

/// One replacement of the commit.
struct JournalEntry {
    std::string stagedName;      ///< the staged file's name in the area
    std::string target;          ///< the installed file, relative to the installation
    bool hadOld = false;         ///< a file stood at `target` before: it goes to the backup
};

struct ReleaseJournal {
    enum class State {
        torn,       ///< never written in full: nothing was touched for it
        pending,    ///< the commit began and did not end
        complete,   ///< every file and the version are in place; the release is not yet confirmed
        undoing,    ///< the release is being undone after its lobby could not start
    };
    State state = State::torn;
    unsigned fromVersion = 0;
    unsigned toVersion = 0;
    std::vector<JournalEntry> entries;
};

namespace journal {
/// The lines appended as the commit goes on.
inline constexpr char kCompleteLine[] = "complete\r\n";
inline constexpr char kUndoLine[] = "undo\r\n";
}  // namespace journal

/// The journal's text up to the start of the commit (state pending once read back).
std::string JournalText(const ReleaseJournal& journal);
/// Reads `text`; a text that is not a whole journal reads as torn.
ReleaseJournal ParseJournal(const std::string& text);
