#include "properties.h"

#include "check.h"
#include "convert_bytes.h"
#include "messages.h"
#include "record/record.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace quorvex::properties {
namespace {

// The model's own limits, written out rather than taken from the code under
// test, so that a wrong limit there shows.
constexpr std::size_t kModelPiece = 511;     // characters in a line piece
constexpr std::size_t kModelSplitLine = 514; // the longest S1 line split in two: 252 data bytes
constexpr std::size_t kRecordRoom = 516;     // the longest piece widened, 515, and its NUL
constexpr std::size_t kLongestRecord = 514;  // count FF and its 255 bytes

// Whether `text` holds S or s and a digit from `at` on.
bool recordStartsAt(std::string_view text, std::size_t at) {
    return at + 1 < text.size() && (text[at] == 'S' || text[at] == 's') && text[at + 1] >= '0' &&
           text[at + 1] <= '9';
}

bool splitsInTwo(std::string_view line) {
    return line.size() > kModelPiece && line.size() <= kModelSplitLine && line[1] == '1';
}

bool isHex(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

bool isUpperHex(char ch) {
    return isHex(ch) && !(ch >= 'a' && ch <= 'f');
}

unsigned hexValue(char ch) {
    if (ch <= '9') {
        return static_cast<unsigned>(ch - '0');
    }
    return static_cast<unsigned>((ch | 0x20) - 'a' + 10);
}

unsigned byteAt(std::string_view digits, std::size_t at) {
    return 16 * hexValue(digits[at]) + hexValue(digits[at + 1]);
}

// What is wrong with a written record, judged by itself.
std::string recordProblem(std::string_view record) {
    const std::size_t size = record.size();
    if (size < 10) {
        return "a record of only " + std::to_string(size) + " characters";
    }
    if (record[1] != '3' && record[1] != '7') {
        return "type digit '" + std::string(1, record[1]) + "'";
    }
    if (!isUpperHex(record[2]) || !isUpperHex(record[3]) || !isUpperHex(record[size - 2]) ||
        !isUpperHex(record[size - 1])) {
        return "count or checksum digits not upper-case hex";
    }
    if (byteAt(record, 2) != (size - 4) / 2) {
        return "count " + std::string(record.substr(2, 2)) + " for a record of " +
               std::to_string(size) + " characters";
    }
    const std::string_view digits = record.substr(2);
    if (digits.size() % 2 == 0 && std::all_of(digits.begin(), digits.end(), isHex)) {
        unsigned sum = 0;
        for (std::size_t at = 0; at < digits.size(); at += 2) {
            sum += byteAt(digits, at);
        }
        if (sum % 256 != 255) {
            return "bytes from count to checksum sum to " + std::to_string(sum % 256);
        }
    }
    return {};
}

// A record the model expects: the mark and type of its line, and the digits
// it must carry after its address (all of them but the four zeros and the
// checksum, or for either half of a split line only its data).
struct Expected {
    char mark;
    char type;
    std::string_view digits;
    bool split;
};

// A record of any type with mark S or s, an even number of hex digits, its
// count of at least 3 bytes and its checksum right.
bool soundForm(std::string_view line) {
    const std::size_t size = line.size();
    if (size < 10 || size > kLongestRecord || (line[0] != 'S' && line[0] != 's') || size % 2 != 0 ||
        !std::all_of(line.begin() + 2, line.end(), isHex) || byteAt(line, 2) != (size - 4) / 2) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t at = 2; at < size; at += 2) {
        sum += byteAt(line, at);
    }
    return sum % 256 == 255;
}

// An S1 or S9 record the conversion takes as it is: of sound form, short
// enough to be one piece unless it is an S1 line split in two.
bool soundRecord(std::string_view line) {
    return soundForm(line) && (line[1] == '1' || (line[1] == '9' && line.size() <= kModelPiece));
}

// What the rules on the file as a whole have seen so far.
struct FileModel {
    std::uint64_t records = 0, s1 = 0, s9 = 0; // s9: the first S9's line
    bool counted = false;               // the last record is a sound count of every S1 record
    std::map<unsigned, unsigned> bytes; // address: value, from sound S1 records
};

// Whether a line breaks a rule of the file as a whole; counts the record lines.
bool breaksFileRule(std::string_view line, std::uint64_t number, FileModel& file) {
    if (line.size() < 2 || (line[0] != 'S' && line[0] != 's') || line[1] < '0' || line[1] > '9') {
        return line.find_first_not_of(" \t") != std::string_view::npos; // not blank
    }
    const char type = line[1];
    const bool sound = soundForm(line);
    bool broken =
        !sound || file.s9 != 0 || line[0] == 's' ||
        std::string_view("478").find(type) != std::string_view::npos ||
        (type == '0' && (file.records != 0 || line.substr(4, 4) != "0000")) ||
        (type == '5' &&
         (line.substr(2, 2) != "03" || byteAt(line, 4) * 256 + byteAt(line, 6) != file.s1)) ||
        (type == '6' &&
         (line.substr(2, 2) != "04" ||
          (byteAt(line, 4) * 256 + byteAt(line, 6)) * 256 + byteAt(line, 8) != file.s1)) ||
        (type == '9' && line.substr(2, 2) != "03") || (type == '1' && line.substr(2, 2) == "03");
    unsigned address = sound ? byteAt(line, 4) * 256 + byteAt(line, 6) : 0;
    for (std::size_t at = 8; sound && type == '1' && at + 2 < line.size(); at += 2, ++address) {
        const auto [held, fresh] = file.bytes.try_emplace(address, byteAt(line, at));
        broken = broken || (!fresh && held->second != byteAt(line, at));
        held->second = byteAt(line, at);
    }
    ++file.records;
    file.counted = !broken && (type == '5' || type == '6');
    file.s1 += type == '1' ? 1 : 0;
    file.s9 = file.s9 == 0 && type == '9' ? number : file.s9;
    return broken;
}

// Whether the check reports a line: every S2 and S3 record; any other line
// only if a piece of it is selected, and then if it is no sound record.
bool reported(std::string_view line) {
    if (line.size() >= 2 && (line[0] == 'S' || line[0] == 's') &&
        (line[1] == '2' || line[1] == '3')) {
        return true;
    }
    bool selected = false;
    for (std::size_t at = 1; at < line.size(); at += kModelPiece) {
        selected = selected || line[at] == '1' || line[at] == '9';
    }
    if (!selected) {
        return false;
    }
    return !soundRecord(line);
}

// The text reading rules and the cutting into pieces, written plainly.
struct Model {
    std::string text; // cut at the first Ctrl-Z, carriage returns dropped
    std::uint64_t lines = 0;
    std::vector<Expected> records;
    std::vector<std::uint64_t> reported; // line numbers, counted by line feeds from 1
};

void modelLine(std::string_view line, bool hasLineFeed, Model& model) {
    if (splitsInTwo(line)) {
        // 251 or 252 data bytes: 250 of them, then the rest, as two lines.
        model.lines += 2;
        model.records.push_back({line[0], '3', line.substr(8, 500), true});
        model.records.push_back({line[0], '3', line.substr(508, line.size() - 510), true});
        return;
    }
    for (std::size_t at = 0; at < line.size(); at += kModelPiece) {
        const std::string_view piece = line.substr(at, kModelPiece);
        ++model.lines;
        if (piece.size() >= 6 && (piece[1] == '1' || piece[1] == '9')) {
            model.records.push_back(
                {piece[0], piece[1] == '1' ? '3' : '7', piece.substr(4, piece.size() - 6), false});
        }
    }
    if (hasLineFeed && line.size() % kModelPiece == 0) {
        ++model.lines; // the line feed is a piece of its own
    }
}

Model modelOf(std::string_view source) {
    Model model;
    // A carriage return is dropped, unless a record follows it: then it ends
    // a line, as a line feed does.
    const std::string_view cut = source.substr(0, std::min(source.find('\x1A'), source.size()));
    for (std::size_t at = 0; at < cut.size(); ++at) {
        if (cut[at] != '\r') {
            model.text += cut[at];
        } else if (recordStartsAt(cut, at + 1)) {
            model.text += '\n';
        }
    }
    const std::string_view text = model.text;
    FileModel file;
    std::size_t at = 0;
    std::uint64_t number = 1;
    const auto report = [&model](std::uint64_t line) {
        if (model.reported.empty() || model.reported.back() != line) {
            model.reported.push_back(line);
        }
    };
    for (; at < text.size(); ++number) {
        const std::size_t lf = text.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        const std::string_view line = text.substr(at, end - at);
        modelLine(line, lf != std::string_view::npos, model);
        if (breaksFileRule(line, number, file) || reported(line)) {
            report(number);
        }
        at = end + 1;
    }
    // Data after the Ctrl-Z, on its line; no S9, after the last line.
    const std::size_t ctrlZ = std::min(source.find('\x1A'), source.size());
    const auto ctrlZLine =
        static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (source.substr(ctrlZ).find_first_not_of(std::string_view("\x1A\r\n\0 \t", 6)) !=
        std::string_view::npos) {
        report(ctrlZLine);
    }
    if ((file.s1 != 0 && file.s9 == 0 && !file.counted) || file.s1 == 0) {
        report(number); // no S9 nor a last count; or no S1 record at all
    }
    return model;
}

// Checks a written record against the one the model expects.
std::string compare(std::string_view record, const Expected& want) {
    if (record[0] != want.mark || record[1] != want.type) {
        return "record starts " + std::string(record.substr(0, 2)) + ", not " + want.mark +
               want.type;
    }
    if (want.split) {
        if (record.substr(12, record.size() - 14) != want.digits) {
            return "split record does not carry its part of the line's data";
        }
    } else if (record.substr(4, 4) != "0000" ||
               record.substr(8, record.size() - 10) != want.digits) {
        return "record does not carry its line's address and data";
    }
    return {};
}

// The records of a destination text, each without its CR LF; false when the
// text is not a sequence of CR LF ended lines.
bool splitRecords(std::string_view output, std::vector<std::string_view>& records) {
    std::size_t at = 0;
    while (at < output.size()) {
        const std::size_t end = output.find_first_of("\r\n", at);
        if (end == std::string_view::npos || output.compare(end, 2, "\r\n") != 0) {
            return false;
        }
        records.push_back(output.substr(at, end - at));
        at = end + 2;
    }
    return true;
}

// The source with carriage returns put in at places its own bytes choose.
std::string withCarriageReturns(std::string_view source) {
    std::string out = recordStartsAt(source, 0) ? "" : "\r";
    for (std::size_t at = 0; at < source.size(); ++at) {
        out += source[at];
        const auto mix = static_cast<unsigned char>(source[at]) + at;
        // Not before a record, where one would end a line, nor inside the "S1"
        // that starts it, where one would stop a carriage return before it
        // from ending a line.
        if (mix % 7 == 0 && !recordStartsAt(source, at + 1) && !recordStartsAt(source, at)) {
            out += mix % 2 == 0 ? "\r" : "\r\r";
        }
    }
    return out + "\r";
}

bool sameResult(const Conversion& one, const Conversion& other) {
    return one.output == other.output && one.counts.lines == other.counts.lines &&
           one.counts.written == other.counts.written;
}

// The reported lines against the model's, and the checked conversion's
// records against the plain one's.
std::string compareReports(std::string_view source, const Conversion& plain, const Model& model) {
    LineReports reports;
    if (!sameResult(convertBytes(source, &reports), plain)) {
        return "checking the lines changed the conversion";
    }
    const auto& shown = reports.shown();
    const std::size_t wanted = std::min(model.reported.size(), LineReports::kShown);
    bool same = reports.total() == model.reported.size() && shown.size() == wanted;
    for (std::size_t i = 0; same && i < wanted; ++i) {
        same = shown[i].line == model.reported[i] && !reason(shown[i].problem).empty();
    }
    if (!same) {
        std::string got;
        for (const auto& entry : shown) {
            got += " " + std::to_string(entry.line);
        }
        std::string want;
        for (std::size_t i = 0; i < wanted; ++i) {
            want += " " + std::to_string(model.reported[i]);
        }
        return std::to_string(reports.total()) + " lines reported (" + got +
               " ), the model gives " + std::to_string(model.reported.size()) + " (" + want + " )";
    }
    LineReports checked;
    checkText(model.text, checked, source.substr(std::min(source.find('\x1A'), source.size())));
    if (checked.total() != reports.total()) {
        return "checkText() and the checked conversion report different lines";
    }
    return {};
}

// convert() on a record text; `content` is the text without its line feed.
std::string checkConvert(std::string_view text, std::string_view content) {
    // Exactly the room the contract asks for, so that ASan sees any overrun,
    // and not zero-filled, so that a missing terminator shows.
    const std::unique_ptr<char[]> room(new char[convertRoom(text.size())]);
    std::fill_n(room.get(), convertRoom(text.size()), '\xAA');
    const std::size_t size = convert(text, room.get());
    if (content.size() < 6) {
        return size == 0
                   ? ""
                   : "a text of " + std::to_string(content.size()) + " characters was converted";
    }
    if (size != content.size() + 4 || room[size] != '\0') {
        return "convert() wrote " + std::to_string(size) + " characters for a text of " +
               std::to_string(content.size());
    }
    const std::string_view record(room.get(), size);
    std::string problem = recordProblem(record);
    if (problem.empty()) {
        problem = compare(record, {content[0], content[1] == '1' ? '3' : '7',
                                   content.substr(4, content.size() - 6), false});
    }
    return problem.empty() ? "" : "convert(): " + problem;
}

// convertPlainLine() takes a whole line, line end included, or nothing; what it
// writes is convert()'s record for that line.
std::string checkPlain(std::string_view text) {
    const auto plainRoom = std::make_unique<char[]>(kRecordRoom);
    const PlainLine plain = convertPlainLine(text, plainRoom.get());
    if (plain.consumed == 0) {
        return {};
    }
    if (plain.consumed > text.size() || text[plain.consumed - 1] != '\n') {
        return "convertPlainLine() took a line without its line feed";
    }
    std::string_view line = text.substr(0, plain.consumed);
    line.remove_suffix(line.size() >= 2 && line[line.size() - 2] == '\r' ? 2 : 1);
    if (line.find_first_of("\r\n") != std::string_view::npos) {
        return "convertPlainLine() took a line holding a line end";
    }
    const auto room = std::make_unique<char[]>(convertRoom(line.size()));
    const std::size_t size = convert(line, room.get());
    if (std::string_view(plainRoom.get(), plain.written) != std::string_view(room.get(), size)) {
        return "convertPlainLine() and convert() differ";
    }
    return {};
}

// convertSplitLine() on an S1 line of 251 or 252 data bytes: 250 of them at the
// line's address, the rest at that address + 250.
std::string checkSplit(std::string_view text, std::string_view content) {
    const auto head = std::make_unique<char[]>(kRecordRoom);
    const auto tail = std::make_unique<char[]>(kRecordRoom);
    const auto sizes = convertSplitLine(text, head.get(), tail.get());
    const std::string_view records[] = {{head.get(), sizes.first}, {tail.get(), sizes.second}};
    const Expected expected[] = {
        {content[0], '3', content.substr(8, 500), true},
        {content[0], '3', content.substr(508, content.size() - 510), true}};
    for (int i = 0; i < 2; ++i) {
        std::string problem = recordProblem(records[i]);
        if (problem.empty()) {
            problem = compare(records[i], expected[i]);
        }
        if (!problem.empty()) {
            return "convertSplitLine(): " + problem;
        }
    }
    const std::string_view address = content.substr(4, 4);
    if (records[0].substr(4, 8) != "0000" + std::string(address)) {
        return "convertSplitLine(): the first record is not at the line's address";
    }
    if (std::all_of(address.begin(), address.end(), isHex)) {
        const std::string_view tailAddress = records[1].substr(4, 8);
        unsigned value = 0;
        for (std::size_t at = 0; at < tailAddress.size(); at += 2) {
            value = value * 256 + byteAt(tailAddress, at);
        }
        if (value != byteAt(address, 0) * 256 + byteAt(address, 2) + 250) {
            return "convertSplitLine(): the second record is not at the line's address + 250";
        }
    }
    return {};
}

} // namespace

std::string checkConversion(std::string_view source) {
    const Conversion result = convertBytes(source);
    std::vector<std::string_view> records;
    if (!splitRecords(result.output, records)) {
        return "the output is not a sequence of records ending in CR LF";
    }
    const Model model = modelOf(source);
    const bool data =
        std::any_of(model.records.begin(), model.records.end(), [](const Expected& record) {
            return record.type == '3' && (record.mark == 'S' || record.mark == 's');
        });
    if (result.verdict != Survey::Verdict::Converts && data) {
        return "a source with a data record refused";
    }
    if ((result.verdict == Survey::Verdict::NoLine) != (model.lines == 0)) {
        return "said to hold no line, or not, against the reading rules";
    }
    if (records.size() != result.counts.written) {
        return std::to_string(records.size()) + " records written, " +
               std::to_string(result.counts.written) + " counted";
    }
    if (result.counts.written > result.counts.lines) {
        return "more records written than lines read";
    }
    if (result.counts.lines != model.lines || records.size() != model.records.size()) {
        return "counted " + std::to_string(result.counts.written) + "/" +
               std::to_string(result.counts.lines) + " lines, the reading rules give " +
               std::to_string(model.records.size()) + "/" + std::to_string(model.lines);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::string problem = recordProblem(records[i]);
        if (problem.empty()) {
            problem = compare(records[i], model.records[i]);
        }
        if (!problem.empty()) {
            return "record " + std::to_string(i + 1) + ": " + problem;
        }
    }
    if (std::string problem = compareReports(source, result, model); !problem.empty()) {
        return "check: " + problem;
    }
    if (std::string problem = compareReports(withCarriageReturns(source), result, model);
        !problem.empty()) {
        return "check, carriage returns put in: " + problem;
    }
    if (!sameResult(convertBytes(withCarriageReturns(source)), result)) {
        return "carriage returns put into the source changed the result";
    }
    std::string tail(source);
    tail += '\x1A';
    tail.append(source.rbegin(), source.rend());
    if (!sameResult(convertBytes(tail), result)) {
        return "a Ctrl-Z and more bytes after the source changed the result";
    }
    return {};
}

std::string checkRecord(std::string_view text) {
    text = text.substr(0, kModelSplitLine + 1);
    std::string_view content = text;
    if (!content.empty() && content.back() == '\n') {
        content.remove_suffix(1);
    }
    std::string problem;
    if (content.size() <= kModelPiece) {
        problem = checkConvert(text, content);
    }
    if (problem.empty()) {
        problem = checkPlain(text);
    }
    if (problem.empty() && needsSplit(text) != splitsInTwo(content)) {
        problem = "needsSplit() does not tell the S1 lines of 251 or 252 data bytes";
    }
    if (problem.empty() && splitsInTwo(content)) {
        problem = checkSplit(text, content);
    }
    return problem;
}

} // namespace quorvex::properties
