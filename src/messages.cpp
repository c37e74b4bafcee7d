#include "messages.h"

#include "check.h"
#include "platform.h"
#include "record/record.h"
#include "version.h"

#include <initializer_list>

namespace quorvex {
namespace {

// A text for a count of one, and one for any other count.
struct Plural {
    const char* one;
    const char* other;
    const char* of(std::uint64_t count) const { return count == 1 ? one : other; }
};

// --- Standard output: the fixed contract. Never reworded. ---

constexpr const char* kMessages[] = {
    "File Read Error",   // Message::ReadError
    "File Write Error",  // Message::WriteError
    "No data!",          // Message::NoData
    "Not enough memory", // Message::NoMemory
};

constexpr char kUsage[] = "Mot S2/9->S3/7 Format Converter for Tarvok.exe Ver1.1\n"
                          "\n"
                          "usage:\n"
                          "Quorvex src dest\n"
                          "src: S2 filename.\n"
                          "dest: S3 filename.\n"
                          "It is acceptable that the dest is the same filename with the src.\n"
                          "quorvex " QUORVEX_VERSION "\n"
                          "\n"
                          "\n";

constexpr char kSummary[] = "Converted {}/{} Lines\n";

// --- Standard error. {} stands for each argument in turn. ---

constexpr char kCannot[] = "quorvex: cannot {}: {}";
constexpr char kLeftIncomplete[] = "quorvex: {} is left incomplete";
constexpr char kLeftIncompleteWithCopy[] =
    "quorvex: {} is left incomplete; the complete result is in {}";
constexpr const char* kSteps[] = {
    "open {} for reading",             // Step::OpenSource
    "read {}",                         // Step::ReadSource
    "hold {} in memory",               // Step::HoldSource
    "open {} for writing",             // Step::OpenDestination
    "open {} for reading and writing", // Step::OpenWhereItStands
    "follow {}, another user's link in a sticky folder that anyone may write to", // FollowLink
    "write {}",                                                                   // Step::Write
    "replace {}",                                                                 // Step::Replace
    "lock {}",                                                                    // Step::Lock
    "hold the records for {} in memory", // Step::HoldRecords
};
constexpr char kLockedFor[] = "another program kept it locked for {} seconds";
constexpr char kRoomShort[] = "it needs {} free, to be rewritten and put back should that fail,"
                              " and {} are free";
constexpr char kQuotaShort[] = "it needs {} free, to be rewritten and put back should that fail;"
                               " {} are free, but a quota allows less";
constexpr char kCutShort[] = "it was cut short, or its device failed, while read";

constexpr char kReport[] = "{}:{}:{}: {}: {}";
constexpr Plural kNotShown = {"quorvex: {}: {} more line not shown",
                              "quorvex: {}: {} more lines not shown"};
constexpr Plural kRefused = {"quorvex: {} is refused (QUORVEX_STRICT): {} line reported",
                             "quorvex: {} is refused (QUORVEX_STRICT): {} lines reported"};
constexpr Plural kDropped = {"quorvex: {}: {} dropped; its data is not in {}",
                             "quorvex: {}: {} dropped; their data is not in {}"};
constexpr Plural kDroppedRecords = {"{} {} record", "{} {} records"};
constexpr Plural kDroppedLines = {"{} line that is no S-record", "{} lines that are no S-records"};
constexpr char kHoldsDroppedRecords[] =
    "quorvex: {} holds S2 or S3 records but no S1 record to convert"
    " (an S2 image, or a file converted already)";
constexpr char kHoldsNoRecords[] =
    "quorvex: {} holds no S1 record to convert, and lines that are no S-records"
    " (another kind of file or text)";
constexpr char kHoldsNoSRecords[] = "quorvex: {} holds no S-records: its lines begin with {}{}";
constexpr char kIntelHex[] = ", as Intel HEX does";
constexpr const char* kNoLine[] = {
    "quorvex: {} is empty",                                  // NoLine::Empty
    "quorvex: {} begins with a Ctrl-Z, which ends its data", // NoLine::CtrlZFirst
    "quorvex: {} holds nothing but carriage returns",        // NoLine::CarriageReturns
};
constexpr char kTakenAsOn[] =
    "quorvex: {}={} is none of 1, true, yes, on, 0, false, no, off: taken as on";

// The check's reasons, by Fault.
constexpr Plural kBytes = {"{} byte", "{} bytes"};
constexpr char kTooShort[] = "too short to be a record (skipped)";
constexpr char kTooLong[] = "longer than any record";
constexpr char kBadMark[] = "starts with {}, not S";
constexpr char kNotHex[] = "{} is no hex digit";
constexpr char kOddDigits[] = "an odd number of hex digits";
constexpr char kCountDiffers[] = "the count says {} ({}) but the line holds {}";
constexpr char kCountTooSmall[] = "the count says {} ({}), too few for an address and a checksum";
constexpr char kChecksum[] = "the checksum is {} but the bytes give {}";
constexpr char kLongS9[] = "an S9 record longer than {} characters, cut short by the conversion";
constexpr char kDroppedRecord[] = "an S{} record: its data is dropped";
constexpr char kNotRecordStart[] = "not a record: it starts with {}";
constexpr char kNoTypeDigit[] = "not a record: no type digit after the S";
constexpr char kLowerMark[] = "a lower-case 's' mark, which other tools may not read";
constexpr char kForeignType[] = "an S{} record, which an S1/S9 file does not hold";
constexpr char kEmptyS1[] = "an S1 record without data";
constexpr char kLateHeader[] = "an S0 header that is not the first record";
constexpr char kHeaderAddress[] = "an S0 header at address {}, not 0000";
constexpr char kCountField[] = "an S{} record whose count is {}, not {}";
constexpr Plural kCountValue = {"the S{} record counts {} ({}) S1 records, but {} comes before it",
                                "the S{} record counts {} ({}) S1 records, but {} come before it"};
constexpr char kSecondS9[] = "a second S9 record (the first is on line {})";
constexpr char kAfterS9[] = "a record after the S9 on line {}";
constexpr char kS9Data[] = "an S9 record that carries data: the count says {}, not 03";
constexpr char kOverlap[] = "gives address {} the byte {}, which line {} gave as {}";
constexpr char kAfterCtrlZ[] = "data after the Ctrl-Z, which is never read ({} first)";
constexpr char kNoS9[] = "no S9 record at the end: the file may be cut short";
constexpr char kNoData[] = "no S1 record: there is no data to flash";

// `text` with each {} replaced by the next of `args`.
std::string fill(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string out;
    const auto* arg = args.begin();
    for (std::size_t at = 0;;) {
        const std::size_t mark = text.find("{}", at);
        if (mark == std::string_view::npos || arg == args.end()) {
            return out.append(text.substr(at));
        }
        out.append(text.substr(at, mark - at)).append(*arg++);
        at = mark + 2;
    }
}

std::string number(std::uint64_t value) {
    return std::to_string(value);
}

std::string hex2(unsigned byte) {
    char digits[2];
    putHex2(digits, byte);
    return {digits, 2};
}

// A character as a reason shows it: 'G', or byte 0x00 when it does not print.
std::string shown(char ch) {
    const auto code = static_cast<unsigned char>(ch);
    if (code > 0x20 && code < 0x7F) {
        return "'" + std::string(1, ch) + "'";
    }
    return "byte 0x" + hex2(code);
}

// An address of four hex digits, or five past FFFF (a last record's bytes).
std::string hexAddress(std::size_t address) {
    return (address > 0xFFFF ? hex2(static_cast<unsigned>(address >> 16) & 0xFu).substr(1) : "") +
           hex2(static_cast<unsigned>(address >> 8) & 0xFFu) +
           hex2(static_cast<unsigned>(address) & 0xFFu);
}

// Bytes in MiB to a tenth, rounded `up` or down.
std::string mebibytes(std::uint64_t count, bool up) {
    constexpr std::uint64_t kTenth = (std::uint64_t{1} << 20) / 10;
    const std::uint64_t tenths = (count + (up ? kTenth - 1 : 0)) / kTenth;
    return number(tenths / 10) + "." + number(tenths % 10) + " MiB";
}

std::string bytes(std::uint64_t count) {
    return fill(kBytes.of(count), {number(count)});
}

} // namespace

const char* text(Message message) {
    return kMessages[static_cast<int>(message)];
}

const char* usageText() {
    return kUsage;
}

std::string summary(std::uint64_t written, std::uint64_t lines) {
    return fill(kSummary, {number(written), number(lines)});
}

std::vector<std::string> explanation(const Failure& failure) {
    const std::string file = quoted(failure.file);
    std::vector<std::string> lines{
        fill(kCannot, {fill(kSteps[static_cast<int>(failure.step)], {file}), failure.reason})};
    if (failure.leftIncomplete) {
        lines.push_back(failure.completeCopy.empty()
                            ? fill(kLeftIncomplete, {file})
                            : fill(kLeftIncompleteWithCopy, {file, quoted(failure.completeCopy)}));
    }
    return lines;
}

std::string lockedFor(int seconds) {
    return fill(kLockedFor, {std::to_string(seconds)});
}

std::string roomShort(std::uint64_t needed, std::uint64_t free) {
    // Short of room, the figures are rounded apart, so that the shortfall
    // shows; a quota's, alike.
    return fill(free < needed ? kRoomShort : kQuotaShort,
                {mebibytes(needed, free < needed), mebibytes(free, false)});
}

const char* cutShort() {
    return kCutShort;
}

std::string quoted(const std::filesystem::path& name) {
    return quotedText(displayName(name));
}

std::string quotedText(std::string_view text) {
    std::string shownText(text);
    for (char& ch : shownText) {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
            ch = '?';
        }
    }
    return "'" + shownText + "'";
}

std::string reason(const Problem& problem) {
    const std::string field = problem.field;
    const std::string type(1, problem.ch);
    switch (problem.fault) {
    case Fault::tooShort:
        return kTooShort;
    case Fault::tooLong:
        return kTooLong;
    case Fault::badMark:
        return fill(kBadMark, {shown(problem.ch)});
    case Fault::notHex:
        return fill(kNotHex, {shown(problem.ch)});
    case Fault::oddDigits:
        return kOddDigits;
    case Fault::countDiffers:
        return fill(kCountDiffers, {field, bytes(problem.said), bytes(problem.found)});
    case Fault::countTooSmall:
        return fill(kCountTooSmall, {field, bytes(problem.said)});
    case Fault::checksum:
        return fill(kChecksum, {hex2(problem.said), hex2(problem.found)});
    case Fault::longS9:
        return fill(kLongS9, {number(kPiece)});
    case Fault::dropped:
        return fill(kDroppedRecord, {type});
    case Fault::notRecord:
        return problem.column == 1 ? fill(kNotRecordStart, {shown(problem.ch)}) : kNoTypeDigit;
    case Fault::lowerMark:
        return kLowerMark;
    case Fault::foreignType:
        return fill(kForeignType, {type});
    case Fault::emptyS1:
        return kEmptyS1;
    case Fault::lateHeader:
        return kLateHeader;
    case Fault::headerAddress:
        return fill(kHeaderAddress, {field});
    case Fault::countField:
        return fill(kCountField, {type, field, problem.ch == '5' ? "03" : "04"});
    case Fault::countValue:
        return fill(kCountValue.of(problem.other),
                    {type, field, number(problem.said), number(problem.other)});
    case Fault::secondS9:
        return fill(kSecondS9, {number(problem.other)});
    case Fault::afterS9:
        return fill(kAfterS9, {number(problem.other)});
    case Fault::s9Data:
        return fill(kS9Data, {field});
    case Fault::overlap:
        return fill(kOverlap, {hexAddress(problem.address), hex2(problem.said),
                               number(problem.other), hex2(problem.found)});
    case Fault::afterCtrlZ:
        return fill(kAfterCtrlZ, {shown(problem.ch)});
    case Fault::noS9:
        return kNoS9;
    case Fault::noData:
        return kNoData;
    }
    return {};
}

std::string report(const std::filesystem::path& source, std::uint64_t line, const Problem& problem,
                   bool error) {
    const std::string name = quotedText(displayName(source));
    return fill(kReport, {std::string_view(name).substr(1, name.size() - 2), number(line),
                          number(problem.column != 0 ? problem.column : 1),
                          error ? "error" : "warning", reason(problem)});
}

std::string notShown(const std::string& source, std::uint64_t more) {
    return fill(kNotShown.of(more), {source, number(more)});
}

std::string refused(const std::string& source, std::uint64_t reported) {
    return fill(kRefused.of(reported), {source, number(reported)});
}

std::string dropped(const std::string& source, const std::string& destination, std::uint64_t s2,
                    std::uint64_t s3, std::uint64_t others) {
    const char* kinds = s3 == 0 ? "S2" : s2 == 0 ? "S3" : "S2 and S3";
    const std::string records = fill(kDroppedRecords.of(s2 + s3), {number(s2 + s3), kinds});
    const std::string lines = fill(kDroppedLines.of(others), {number(others)});
    const std::string what = others == 0    ? records
                             : s2 + s3 == 0 ? lines
                                            : records + " and " + lines;
    return fill(kDropped.of(s2 + s3 + others), {source, what, destination});
}

std::string nothingToConvert(const std::string& source, bool holdsDroppedRecords, char mark) {
    if (mark != '\0') {
        return fill(kHoldsNoSRecords, {source, shown(mark), mark == ':' ? kIntelHex : ""});
    }
    return fill(holdsDroppedRecords ? kHoldsDroppedRecords : kHoldsNoRecords, {source});
}

std::string noLine(const std::string& source, NoLine why) {
    return fill(kNoLine[static_cast<int>(why)], {source});
}

std::string switchTakenAsOn(std::string_view name, std::string_view value) {
    return fill(kTakenAsOn, {name, quotedText(value)});
}

} // namespace quorvex
