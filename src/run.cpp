#include "run.h"

#include "check.h"
#include "conversion.h"
#include "destination.h"
#include "explain.h"
#include "platform.h"
#include "source.h"
#include "switches.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>

namespace quorvex {

namespace {

// Printed when fewer than two file names are given.
const char usage[] = "Mot S2/9->S3/7 Format Converter for Tarvok.exe Ver1.1\n"
                     "\n"
                     "usage:\n"
                     "Quorvex src dest\n"
                     "src: S2 filename.\n"
                     "dest: S3 filename.\n"
                     "It is acceptable that the dest is the same filename with the src.\n"
                     "quorvex " QUORVEX_VERSION "\n"
                     "\n"
                     "\n";

// Exit statuses: the usage text and a completed run are 0; every failure is 1,
// so that make, CMake and `set -e` stop on it.
constexpr int kCompleted = 0;
constexpr int kFailed = 1;

constexpr char kNoMemory[] = "Not enough memory";

int say(std::FILE* out, const char* message, int status) {
    writeConsole(out, std::string(message) + "\n");
    return status;
}

// Says a failure's message and, when asked for, why it happened.
int sayFailure(std::FILE* out, const char* message, int status, const Failure& why) {
    say(out, message, status);
    explainFailure(why);
    return status;
}

// Writes the reported source lines to standard error.
void sayReports(const std::filesystem::path& fin, const LineReports& reports) {
    for (const std::string& line : reports.text(quoted(fin))) {
        writeErrorLine(line);
    }
}

// The one line that tells a strict refusal, after the reports.
void sayRefusal(const std::filesystem::path& fin, const LineReports& reports) {
    const std::uint64_t total = reports.total();
    writeErrorLine("quorvex: " + quoted(fin) + " is refused (QUORVEX_STRICT): " +
                   std::to_string(total) + (total == 1 ? " line" : " lines") + " reported");
}

// Says what the conversion dropped, if anything: the data of S2 and S3 records.
void sayDropped(const std::filesystem::path& fin, const std::filesystem::path& fout,
                const Counts& counts) {
    const std::uint64_t total = counts.droppedS2 + counts.droppedS3;
    if (total == 0) {
        return;
    }
    const char* kinds = counts.droppedS3 == 0   ? " S2 record"
                        : counts.droppedS2 == 0 ? " S3 record"
                                                : " S2 and S3 record";
    writeErrorLine(
        "quorvex: " + quoted(fin) + ": " + std::to_string(total) + kinds +
        (total == 1 ? " dropped; its data is not in " : "s dropped; their data is not in ") +
        quoted(fout));
}

// A source with no record to convert, but S2 or S3 records or lines that
// are no records, is not converted into nothing.
int sayNothingToConvert(std::FILE* out, const std::filesystem::path& fin, const Counts& counts) {
    say(out, "No data!", kFailed);
    if (switches().verbose) {
        writeErrorLine("quorvex: " + quoted(fin) +
                       (counts.droppedS2 + counts.droppedS3 != 0
                            ? " holds S2 or S3 records but no S1 record to convert"
                              " (an S2 image, or a file converted already)"
                            : " holds no S1 record to convert, and lines that are no S-records"
                              " (another kind of file or text, or lines ended by a carriage"
                              " return alone)"));
    }
    return kFailed;
}

int convertFile(System& system, const std::filesystem::path& fin, const std::filesystem::path& fout,
                std::FILE* out) {
    Destination dest(system, fout);
    std::optional<Counts> counts;
    // QUORVEX_STRICT refuses a source with reported lines; QUORVEX_VERBOSE
    // reports them while converting.
    const bool strict = switches().strict;
    const bool report = !strict && switches().verbose;
    LineReports reports;
    {
        SourceText text(system);
        Failure why;
        if (!text.load(fin, strict || report, why)) {
            return sayFailure(out, kReadError, kFailed, why);
        }
        if (!holdsData(text.view())) {
            return say(out, "No data!", kFailed);
        }
        if (strict) {
            checkText(text.view(), reports, text.rest());
            if (reports.total() != 0) {
                sayReports(fin, reports);
                sayRefusal(fin, reports);
                return say(out, kReadError, kFailed);
            }
        }
        if (!dest.open()) {
            return sayFailure(out, "File Write Error", kFailed, dest.failure());
        }
        if (dest.writesInto(text.id())) {
            text.keepOwnCopy(); // the records would overwrite what is still to be read
        }
        counts = report ? convertText(text.view(), dest, reports, text.rest())
                        : convertText(text.view(), dest);
    } // the source is no longer read: unmapped
    if (counts && counts->nothingToConvert) {
        sayReports(fin, reports);
        return sayNothingToConvert(out, fin, *counts); // the destination is left as it was
    }
    if (!counts || !dest.commit()) {
        return sayFailure(out, dest.outOfMemory() ? kNoMemory : "File Write Error", kFailed,
                          dest.failure());
    }
    sayReports(fin, reports);
    sayDropped(fin, fout, *counts);
    writeConsole(out, "Converted " + std::to_string(counts->written) + "/" +
                          std::to_string(counts->lines) + " Lines\n");
    return kCompleted;
}

} // namespace

int run(const std::vector<std::filesystem::path>& args, std::FILE* out) {
    System& system = nativeSystem();
    if (args.size() < 2) {
        writeConsole(out, usage);
        return kCompleted;
    }
    try {
        return convertFile(system, args[0], args[1], out);
    } catch (const std::bad_alloc&) {
        return sayFailure(out, kNoMemory, kFailed,
                          Failure{"hold " + quoted(args[0]) + " in memory",
                                  std::generic_category().message(ENOMEM), ""});
    }
}

} // namespace quorvex
