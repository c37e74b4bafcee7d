#include "run.h"

#include "conversion.h"
#include "platform.h"

#include <new>
#include <string>

namespace quorvex {

const char usage[] = "Mot S2/9->S3/7 Format Converter for Tarvok.exe Ver1.1\n"
                     "\n"
                     "usage:\n"
                     "Quorvex src dest\n"
                     "src: S2 filename.\n"
                     "dest: S3 filename.\n"
                     "It is acceptable that the dest is the same filename with the src.\n"
                     "\n"
                     "\n";

namespace {

// Exit statuses. The early stops keep 0, as scripts may rely on it; a failure
// after the source was opened or after writing began is 1.
constexpr int kDone = 0;
constexpr int kFailed = 1;

int say(std::FILE* out, const char* message, int status) {
    std::fputs(message, out);
    std::fputs("\n", out);
    return status;
}

int convertFile(const std::filesystem::path& fin, const std::filesystem::path& fout,
                std::FILE* out) {
    std::string text;
    switch (readSource(fin, text)) {
    case ReadStatus::ok:
        break;
    case ReadStatus::cannotOpen:
        return say(out, "File Read Error", kDone);
    case ReadStatus::readError:
        return say(out, "File Read Error", kFailed);
    case ReadStatus::noMemory:
        return say(out, "Not enough memory", kFailed);
    }
    const std::uint64_t num = getLineNum(text);
    if (num == 0) {
        return say(out, "No data!", kDone);
    }

    Destination dest(fout);
    if (!dest.open()) {
        return say(out, "File Write Error", kDone);
    }
    const std::optional<std::uint64_t> chg = convertText(text, dest);
    if (!chg || !dest.commit()) {
        return say(out, "File Write Error", kFailed);
    }
    std::fprintf(out, "Converted %llu/%llu Lines\n", static_cast<unsigned long long>(*chg),
                 static_cast<unsigned long long>(num));
    return kDone;
}

} // namespace

int run(const std::vector<std::filesystem::path>& args, std::FILE* out) {
    if (args.size() < 2) {
        std::fputs(usage, out);
        return kDone;
    }
    try {
        return convertFile(args[0], args[1], out);
    } catch (const std::bad_alloc&) {
        return say(out, "Not enough memory", kFailed);
    }
}

} // namespace quorvex
