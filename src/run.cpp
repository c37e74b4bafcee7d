#include "run.h"

#include "conversion.h"
#include "platform.h"
#include "version.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace quorvex {

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

namespace {

// Exit statuses. The early stops keep 0, as scripts may rely on it; a failure
// after the source was opened or after writing began is 1.
constexpr int kDone = 0;
constexpr int kFailed = 1;

constexpr std::size_t kReadStep = std::size_t{64} * 1024;
constexpr char kReadError[] = "File Read Error";

// The source's bytes up to its first Ctrl-Z: a regular file mapped whole,
// anything else read once into a buffer that is not zero-filled first.
class SourceText {
  public:
    std::string_view view() const {
        const std::string_view all = mapping_.view().data() != nullptr
                                         ? mapping_.view()
                                         : std::string_view(data_.get(), size_);
        return all.substr(0, dataLength(all));
    }

    // Reads all of `in`; false when a read failed. Throws std::bad_alloc.
    bool load(Input& in) {
        if (in.map(mapping_, kReadError)) {
            return true;
        }
        // One byte more than a regular file's size sees its end at once.
        grow(static_cast<std::size_t>(std::min<std::uint64_t>(in.sizeHint(), SIZE_MAX - 1)) + 1);
        for (;;) {
            if (size_ == capacity_) {
                grow(capacity_ + std::max(capacity_, kReadStep));
            }
            const std::ptrdiff_t got = in.read(data_.get() + size_, capacity_ - size_);
            if (got < 0) {
                return false;
            }
            const std::string_view chunk(data_.get() + size_, static_cast<std::size_t>(got));
            size_ += chunk.size();
            if (got == 0 || dataLength(chunk) < chunk.size()) {
                return true; // nothing after a Ctrl-Z is read
            }
        }
    }

  private:
    void grow(std::size_t capacity) {
        std::unique_ptr<char[]> more(new char[capacity]);
        if (size_ != 0) {
            std::memcpy(more.get(), data_.get(), size_);
        }
        data_ = std::move(more);
        capacity_ = capacity;
    }

    Mapping mapping_;
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Console output is not checked: when the console cannot take a message,
// nothing else could, and the status still tells the outcome.
int say(std::FILE* out, const char* message, int status) {
    (void)std::fprintf(out, "%s\n", message);
    return status;
}

int convertFile(const std::filesystem::path& fin, const std::filesystem::path& fout,
                std::FILE* out) {
    SourceText text;
    {
        Input in;
        if (!in.open(fin)) {
            return say(out, kReadError, kDone);
        }
        if (!text.load(in)) {
            return say(out, kReadError, kFailed);
        }
    }
    const std::string_view source = text.view();
    if (!holdsData(source)) {
        return say(out, "No data!", kDone);
    }

    Destination dest(fout);
    if (!dest.open()) {
        return say(out, "File Write Error", kDone);
    }
    const std::optional<Counts> counts = convertText(source, dest);
    if (!counts || !dest.commit()) {
        return say(out, "File Write Error", kFailed);
    }
    (void)std::fprintf(out, "Converted %llu/%llu Lines\n",
                       static_cast<unsigned long long>(counts->written),
                       static_cast<unsigned long long>(counts->lines));
    return kDone;
}

} // namespace

int run(const std::vector<std::filesystem::path>& args, std::FILE* out) {
    if (args.size() < 2) {
        (void)std::fputs(usage, out);
        return kDone;
    }
    try {
        return convertFile(args[0], args[1], out);
    } catch (const std::bad_alloc&) {
        return say(out, "Not enough memory", kFailed);
    }
}

} // namespace quorvex
