#include "run.h"

#include "check.h"
#include "conversion.h"
#include "destination.h"
#include "messages.h"
#include "platform.h"
#include "source.h"
#include "switches.h"

#include <cerrno>
#include <new>
#include <optional>
#include <string>
#include <system_error>

namespace quorvex {

namespace {

// Exit statuses: the usage text and a completed run are 0; every failure is 1,
// so that make, CMake and `set -e` stop on it.
constexpr int kCompleted = 0;
constexpr int kFailed = 1;

int say(std::FILE* out, Message message) {
    writeConsole(out, std::string(text(message)) + "\n");
    return kFailed;
}

// Says a failure's message and, when asked for, why it happened.
int sayFailure(std::FILE* out, Message message, const Failure& why) {
    say(out, message);
    if (switches().verbose) {
        for (const std::string& line : explanation(why)) {
            writeErrorLine(line);
        }
    }
    return kFailed;
}

// Writes the reported source lines to standard error, as errors where they
// refuse the source.
void sayReports(const std::filesystem::path& fin, const LineReports& reports, bool refusing) {
    for (const LineReports::Entry& entry : reports.shown()) {
        writeErrorLine(report(fin, entry.line, entry.problem, refusing));
    }
    if (reports.total() != reports.shown().size()) {
        writeErrorLine(notShown(quoted(fin), reports.total() - reports.shown().size()));
    }
}

// Says what the conversion dropped, if anything: the data of S2 and S3
// records, and of lines that are no records (an indented record, one behind
// a byte-order mark).
void sayDropped(const std::filesystem::path& fin, const std::filesystem::path& fout,
                const Counts& counts) {
    if (counts.droppedS2 + counts.droppedS3 + counts.noRecords != 0) {
        writeErrorLine(dropped(quoted(fin), quoted(fout), counts.droppedS2, counts.droppedS3,
                               counts.noRecords));
    }
}

// Whether there is anything to convert is known before the destination is
// touched: a refused source leaves even a pipe empty. The status of a source
// refused, for that or by strict mode, or nothing to go on; `reports` then
// holds the lines reported if it was checked.
std::optional<int> refusal(const SourceText& text, const std::filesystem::path& fin,
                           LineReports& reports, std::FILE* out) {
    const bool strict = switches().strict;
    const bool report = !strict && switches().verbose;
    const Survey found = survey(text.view());
    if (found.verdict == Survey::Verdict::NoLine) {
        say(out, Message::NoData);
        if (switches().verbose) {
            writeErrorLine(noLine(quoted(fin), !text.view().empty()  ? NoLine::CarriageReturns
                                               : text.rest().empty() ? NoLine::Empty
                                                                     : NoLine::CtrlZFirst));
        }
        return kFailed;
    }
    if (strict || (report && found.verdict == Survey::Verdict::NothingToConvert)) {
        checkText(text.view(), reports, text.rest());
    }
    if (strict && reports.total() != 0) {
        sayReports(fin, reports, true);
        writeErrorLine(refused(quoted(fin), reports.total()));
        return say(out, Message::ReadError);
    }
    if (found.verdict == Survey::Verdict::NothingToConvert) {
        sayReports(fin, reports, false);
        say(out, Message::NoData);
        if (switches().verbose) {
            writeErrorLine(nothingToConvert(quoted(fin), found.droppedRecords, found.foreignMark));
        }
        return kFailed;
    }
    return std::nullopt;
}

int convertFile(System& system, const std::filesystem::path& fin, const std::filesystem::path& fout,
                std::FILE* out) {
    LockWait wait; // for another run's lock, on the source and the destination alike
    Destination dest(system, fout, wait);
    std::optional<Counts> counts;
    // QUORVEX_STRICT refuses a source with reported lines; QUORVEX_VERBOSE
    // reports them while converting.
    const bool strict = switches().strict;
    const bool report = !strict && switches().verbose;
    LineReports reports;
    {
        SourceText text(system, wait);
        Failure why;
        if (!text.load(fin, strict || report, why)) {
            return sayFailure(out, Message::ReadError, why);
        }
        if (const auto status = refusal(text, fin, reports, out)) {
            return *status;
        }
        if (!dest.open()) {
            return sayFailure(out, Message::WriteError, dest.failure());
        }
        if (dest.writesInto(text.id())) {
            text.keepOwnCopy(); // the records would overwrite what is still to be read
        }
        counts = report ? convertText(text.view(), dest, reports, text.rest())
                        : convertText(text.view(), dest);
    } // the source is no longer read: unmapped
    if (!counts || !dest.commit()) {
        return sayFailure(out, dest.outOfMemory() ? Message::NoMemory : Message::WriteError,
                          dest.failure());
    }
    sayReports(fin, reports, false);
    sayDropped(fin, fout, *counts);
    writeConsole(out, summary(counts->written, counts->lines));
    return kCompleted;
}

} // namespace

int run(const std::vector<std::filesystem::path>& args, std::FILE* out) {
    System& system = nativeSystem();
    // No argument asks for the usage text; one, or more than two, is a
    // mistake (a file name left empty, a glob that matched more): nothing is
    // touched, and the status says it failed.
    if (args.size() != 2) {
        writeConsole(out, usageText());
        return args.empty() ? kCompleted : kFailed;
    }
    try {
        return convertFile(system, args[0], args[1], out);
    } catch (const std::bad_alloc&) {
        return sayFailure(
            out, Message::NoMemory,
            Failure{Step::HoldSource, args[0], std::generic_category().message(ENOMEM)});
    }
}

} // namespace quorvex
