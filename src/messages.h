// Every text the user reads, in one home: messages.cpp holds each as a whole
// sentence with placeholders, in its singular and plural forms; the rest of
// the code says which message, never how it reads.
//
// Two kinds of text:
// - Standard output carries the fixed contract: the usage text, the four
//   failure messages and the summary line. Build scripts and people's
//   habits parse them; they never change (see the README's table).
// - Standard error carries explanations, reports and warnings, each line
//   beginning "quorvex: ". They may be worded better from one release to
//   the next.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

struct Problem;

// --- Standard output: the fixed contract ----------------------------------

// The failure messages, each printed as a line of its own.
enum class Message {
    ReadError,  // "File Read Error": the source cannot be read, or is refused
    WriteError, // "File Write Error"
    NoData,     // "No data!": the source holds nothing to convert
    NoMemory,   // "Not enough memory"
};
const char* text(Message message);

// The usage text, whole, with its version line and closing empty lines.
const char* usageText();

// "Converted 20/91 Lines" and its line end.
std::string summary(std::uint64_t written, std::uint64_t lines);

// --- Standard error ------------------------------------------------------

// What a run was doing when a step failed.
enum class Step {
    OpenSource,        // open 'fw.s19' for reading
    ReadSource,        // read 'fw.s19'
    HoldSource,        // hold 'fw.s19' in memory
    OpenDestination,   // open 'fw.s37' for writing
    OpenWhereItStands, // open 'fw.s37' for reading and writing: a file written where it stands
    FollowLink,        // follow 'link.s37', another user's link in a sticky folder ...
    Write,             // write 'fw.s37'
    Replace,           // replace 'fw.s37'
    Lock,              // lock 'fw.s37'
    HoldRecords,       // hold the records for 'fw.s37' in memory
};

// A step that failed: what was done to which file, and why; perhaps what
// that left behind.
struct Failure {
    Step step = Step::OpenSource;
    std::filesystem::path file;
    std::string reason;                   // the system's words, or lockedFor()'s
    bool leftIncomplete = false;          // the file could not even be put back
    std::filesystem::path completeCopy{}; // where its complete records stay, if anywhere
};

// The lines that explain `failure`: "quorvex: cannot write 'fw.s37': No
// space left on device", and what it left behind, if anything.
std::vector<std::string> explanation(const Failure& failure);

// The reason for a lock another run held too long.
std::string lockedFor(int seconds);

// The reason a rewrite where a file stands is refused for want of room: it
// needs `needed` bytes free to put the old bytes back should it fail, and
// `free` are free, as the disk counts them (a quota may allow less).
std::string roomShort(std::uint64_t needed, std::uint64_t free);

// The reason for a mapped source that faulted.
const char* cutShort();

// `name` as the messages show it, in single quotes: 'fw.s19'.
std::string quoted(const std::filesystem::path& name);
// Any text so, control characters shown as '?' so that the line stays one.
std::string quotedText(std::string_view text);

// The reason the check gives for a problem: "the checksum is 2A but the
// bytes give 2B".
std::string reason(const Problem& problem);

// A reported line of `source`, in the form compilers use, which editors and
// CI annotations read: "fw.s19:7:12: warning: REASON", or error: in a strict
// refusal. The name is as given, but that a control character (a line
// feed) shows as '?', so that the report stays one line.
std::string report(const std::filesystem::path& source, std::uint64_t line, const Problem& problem,
                   bool error);
// "quorvex: 'fw.s19': 12 more lines not shown".
std::string notShown(const std::string& source, std::uint64_t more);
// The last line of a strict refusal, after `reported` reported lines.
std::string refused(const std::string& source, std::uint64_t reported);

// The data a completed run dropped: `s2` S2 and `s3` S3 records, and
// `others` lines that are no S-records.
std::string dropped(const std::string& source, const std::string& destination, std::uint64_t s2,
                    std::uint64_t s3, std::uint64_t others);
// Why a source with nothing to convert is refused: it holds S2 or S3
// records; or no S-records at all, its records beginning with `mark` (0:
// lines that are no records).
std::string nothingToConvert(const std::string& source, bool holdsDroppedRecords, char mark);
// Why a source holds no line: it is empty, or begins with a Ctrl-Z, or holds
// carriage returns alone.
enum class NoLine { Empty, CtrlZFirst, CarriageReturns };
std::string noLine(const std::string& source, NoLine why);

// A switch whose value is none of those understood.
std::string switchTakenAsOn(std::string_view name, std::string_view value);

} // namespace quorvex
