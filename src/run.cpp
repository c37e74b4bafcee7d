#include "run.h"

#include "check.h"
#include "conversion.h"
#include "destination.h"
#include "explain.h"
#include "platform.h"
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

constexpr std::size_t kReadStep = std::size_t{64} * 1024;
constexpr char kReadError[] = "File Read Error";

// The source's bytes up to its first Ctrl-Z: a regular file mapped whole,
// anything else read once into a buffer that is not zero-filled first.
class SourceText {
  public:
    std::string_view view() const {
        const std::string_view mapped = in_.mapped();
        return {mapped.data() != nullptr ? mapped.data() : data_.get(), length_};
    }

    // Opens and reads all of `name`, then lets go of it; false, with `why`
    // set, when it cannot be opened (`opened` false) or a read failed.
    // Throws std::bad_alloc.
    bool load(const std::filesystem::path& name, bool& opened, Failure& why) {
        ErrorCode error = in_.open(name);
        opened = error == 0;
        if (opened) {
            in_.waitForWriters();
            error = read(name);
            in_.close();
        }
        if (error != 0) {
            why = Failure{(opened ? "read " : "open ") + quoted(name) +
                              (opened ? "" : " for reading"),
                          systemReason(error), ""};
        }
        return error == 0;
    }

    // The file the text was read from.
    FileId id() const { return in_.id(); }

    // Copies mapped bytes into memory of their own, before their file is
    // written. Throws std::bad_alloc.
    void keepOwnCopy() {
        if (in_.mapped().data() != nullptr) {
            grow(length_);
            std::memcpy(data_.get(), in_.mapped().data(), length_);
            in_.unmap();
        }
    }

  private:
    ErrorCode read(const std::filesystem::path& name) {
        if (in_.map(std::string(kReadError) + "\n", cutShort(name))) {
            length_ = dataLength(in_.mapped());
            return 0;
        }
        // One byte more than a regular file's size sees its end at once.
        grow(static_cast<std::size_t>(std::min<std::uint64_t>(in_.sizeHint(), SIZE_MAX - 1)) + 1);
        for (;;) {
            if (size_ == capacity_) {
                grow(capacity_ + std::max(capacity_, kReadStep));
            }
            std::size_t got = 0;
            if (const ErrorCode error = in_.read(data_.get() + size_, capacity_ - size_, got)) {
                return error;
            }
            const std::string_view chunk(data_.get() + size_, got);
            size_ += chunk.size();
            const std::size_t kept = dataLength(chunk);
            if (got == 0 || kept < chunk.size()) { // nothing after a Ctrl-Z is read
                length_ = size_ - chunk.size() + kept;
                return 0;
            }
        }
    }

    // What the user is told, if asked, should the mapped file fault.
    static std::string cutShort(const std::filesystem::path& name) {
        std::string line = explanation("read " + quoted(name),
                                       "it was cut short, or its device failed, while read");
        return line.empty() ? line : line + "\n";
    }

    void grow(std::size_t capacity) {
        std::unique_ptr<char[]> more(new char[capacity]);
        if (size_ != 0) {
            std::memcpy(more.get(), data_.get(), size_);
        }
        data_ = std::move(more);
        capacity_ = capacity;
    }

    Input in_;
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0; // up to the first Ctrl-Z
};

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

// A source of S2 or S3 records alone is not converted into nothing.
int sayNothingToConvert(std::FILE* out, const std::filesystem::path& fin) {
    say(out, "No data!", kFailed);
    if (switches().verbose) {
        writeErrorLine("quorvex: " + quoted(fin) +
                       " holds S2 or S3 records but no S1 record to convert"
                       " (an S2 image, or a file converted already)");
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
        SourceText text;
        bool opened = false;
        Failure why;
        if (!text.load(fin, opened, why)) {
            return sayFailure(out, kReadError, kFailed, why);
        }
        if (!holdsData(text.view())) {
            return say(out, "No data!", kFailed);
        }
        if (strict) {
            checkText(text.view(), reports);
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
        counts = report ? convertText(text.view(), dest, reports) : convertText(text.view(), dest);
    } // the source is no longer read: unmapped
    if (counts && counts->nothingToConvert) {
        sayReports(fin, reports);
        return sayNothingToConvert(out, fin); // the destination is left as it was
    }
    if (!counts || !dest.commit()) {
        return sayFailure(out, "File Write Error", kFailed, dest.failure());
    }
    sayReports(fin, reports);
    for (const Failure& note : dest.notes()) {
        explainFailure(note);
    }
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
        return sayFailure(out, "Not enough memory", kFailed,
                          Failure{"hold " + quoted(args[0]) + " in memory",
                                  std::generic_category().message(ENOMEM), ""});
    }
}

} // namespace quorvex
