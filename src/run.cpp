#include "run.h"

#include "check.h"
#include "conversion.h"
#include "destination.h"
#include "explain.h"
#include "platform.h"
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

// Exit statuses. The early stops keep 0, as scripts may rely on it; a failure
// after the source was opened or after writing began is 1.
constexpr int kCompleted = 0; // the records were written
constexpr int kStopped = 0;   // an early stop: usage, nothing to read or write
constexpr int kFailed = 1;

constexpr std::size_t kReadStep = std::size_t{64} * 1024;
constexpr char kReadError[] = "File Read Error";

// The source's bytes up to its first Ctrl-Z: a regular file mapped whole,
// anything else read once into a buffer that is not zero-filled first, up to
// the Ctrl-Z unless what follows it is to be checked too.
class SourceText {
  public:
    std::string_view view() const { return {whole().data(), length_}; }

    // What follows view(): the bytes from the first Ctrl-Z on, as far as read.
    std::string_view rest() const { return whole().substr(length_); }

    // Opens and reads all of `name` (after its Ctrl-Z too if `withRest`),
    // then lets go of it; false, with `why` set, when it cannot be opened
    // (`opened` false) or a read failed. Throws std::bad_alloc.
    bool load(const std::filesystem::path& name, bool withRest, bool& opened, Failure& why) {
        ErrorCode error = in_.open(name);
        opened = error == 0;
        if (opened) {
            in_.waitForWriters();
            error = read(name, withRest);
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
            grow(in_.mapped().size());
            std::memcpy(data_.get(), in_.mapped().data(), in_.mapped().size());
            size_ = in_.mapped().size();
            in_.unmap();
        }
    }

  private:
    std::string_view whole() const {
        const std::string_view mapped = in_.mapped();
        return mapped.data() != nullptr ? mapped : std::string_view(data_.get(), size_);
    }

    ErrorCode read(const std::filesystem::path& name, bool withRest) {
        if (in_.map(std::string(kReadError) + "\n", cutShort(name))) {
            length_ = dataLength(in_.mapped());
            return 0;
        }
        // One byte more than a regular file's size sees its end at once.
        grow(static_cast<std::size_t>(std::min<std::uint64_t>(in_.sizeHint(), SIZE_MAX - 1)) + 1);
        bool cut = false;
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
            if (!cut) {
                const std::size_t kept = dataLength(chunk);
                length_ = size_ - chunk.size() + kept;
                cut = kept < chunk.size();
            }
            if (got == 0 || (cut && !withRest)) { // after a Ctrl-Z, only the check reads
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

int convertFile(System& system, const std::filesystem::path& fin, const std::filesystem::path& fout,
                std::FILE* out) {
    Destination dest(system, fout);
    std::optional<Counts> counts;
    // QUORVEX_STRICT=1 refuses a source with reported lines; QUORVEX_VERBOSE=1
    // reports them while converting.
    const bool strict = envFlag("QUORVEX_STRICT");
    const bool report = !strict && envFlag("QUORVEX_VERBOSE");
    LineReports reports;
    {
        SourceText text;
        bool opened = false;
        Failure why;
        if (!text.load(fin, strict || report, opened, why)) {
            return sayFailure(out, kReadError, opened ? kFailed : kStopped, why);
        }
        if (!holdsData(text.view())) {
            return say(out, "No data!", kStopped);
        }
        if (strict) {
            checkText(text.view(), reports, text.rest());
            if (reports.total() != 0) {
                sayReports(fin, reports);
                return say(out, kReadError, kFailed);
            }
        }
        if (!dest.open()) {
            return sayFailure(out, "File Write Error", dest.noRoom() ? kFailed : kStopped,
                              dest.failure());
        }
        if (dest.writesInto(text.id())) {
            text.keepOwnCopy(); // the records would overwrite what is still to be read
        }
        counts = report ? convertText(text.view(), dest, reports, text.rest())
                        : convertText(text.view(), dest);
    } // the source is no longer read: unmapped
    if (!counts || !dest.commit()) {
        return sayFailure(out, "File Write Error", kFailed, dest.failure());
    }
    sayReports(fin, reports);
    for (const Failure& note : dest.notes()) {
        explainFailure(note);
    }
    writeConsole(out, "Converted " + std::to_string(counts->written) + "/" +
                          std::to_string(counts->lines) + " Lines\n");
    return kCompleted;
}

} // namespace

int run(const std::vector<std::filesystem::path>& args, std::FILE* out) {
    System& system = nativeSystem();
    if (args.size() < 2) {
        writeConsole(out, usage);
        return kStopped;
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
