#include "conversion.h"

#include "check.h"
#include "record/record.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace quorvex {
namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;
// Enough for the two records of a split line, with their line ends.
constexpr std::size_t kLineRoom = 2 * (convertRoom(kPiece) + 2);

// Collects records into chunks for the sink.
class Writer {
  public:
    explicit Writer(Sink& sink) : sink_(sink), buffer_(new char[kChunk + kLineRoom]) {}

    // Room for the records of one piece or split line.
    char* room() { return buffer_.get() + used_; }

    // Takes `size` bytes written at room() as a record and ends it with CR LF.
    void record(std::size_t size) {
        char* end = room() + size;
        end[0] = '\r';
        end[1] = '\n';
        used_ += size + 2;
        ++written_;
    }

    void flushIfFull() {
        if (used_ >= kChunk) {
            flush();
        }
    }

    bool flush() {
        noteData();
        failed_ = failed_ || !sink_.write(std::string_view(buffer_.get(), used_));
        used_ = 0;
        return !failed_;
    }

    bool failed() const { return failed_; }
    std::uint64_t written() const { return written_; }

    // Whether a data record is among the records so far.
    bool holdsData() {
        noteData();
        return sawData_;
    }

  private:
    // Looks for a data record (S3, from a '1' piece) only until one is found:
    // in a sound source the first record is one.
    void noteData() {
        for (std::size_t at = 0; !sawData_ && at < used_;) {
            sawData_ = buffer_[at + 1] == '3';
            at = static_cast<std::size_t>(
                     static_cast<const char*>(std::memchr(&buffer_[at], '\n', used_ - at)) -
                     buffer_.get()) +
                 1; // every record ends in CR LF
        }
    }

    Sink& sink_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    bool failed_ = false;
    bool sawData_ = false;
};

void convertPiece(std::string_view piece, Writer& out) {
    if (piece.size() >= 6 && (piece[1] == '1' || piece[1] == '9')) {
        out.record(convert(piece, out.room()));
        out.flushIfFull();
    }
}

// Converts a line without carriage returns, given without its line feed.
void convertLine(std::string_view content, Writer& out) {
    if (content.size() < kPiece) {
        convertPiece(content, out);
    } else if (needsSplit(content)) {
        // The head record's length is fixed: the tail is built where it goes,
        // behind the head and its line end.
        char* head = out.room();
        const auto sizes = convertSplitLine(content, head, head + kMaxRecordLine + 2);
        out.record(sizes.first);
        out.record(sizes.second);
        out.flushIfFull();
    } else {
        for (std::size_t at = 0; at < content.size(); at += kPiece) {
            convertPiece(content.substr(at, kPiece), out);
        }
    }
}

// Converts a line that holds carriage returns besides its line end, dropping
// them piece by piece so that no line needs a copy of its own. Returns the
// line's size without them.
std::size_t convertStrippedLine(std::string_view content, Writer& out) {
    const std::size_t size =
        content.size() - static_cast<std::size_t>(std::count(content.begin(), content.end(), '\r'));
    const bool mayNeedSplit = size > kPiece && size <= kMaxRecordLine;
    char piece[kMaxRecordLine];
    std::size_t used = 0;
    for (const char ch : content) {
        if (ch == '\r') {
            continue;
        }
        piece[used++] = ch;
        if (used == kPiece && !mayNeedSplit) {
            convertPiece(std::string_view(piece, used), out);
            used = 0;
        }
    }
    convertLine(std::string_view(piece, used), out);
    return size;
}

// Number of pieces a line of `size` characters (carriage returns dropped,
// line feed not included) counts as.
std::uint64_t getLineNum(std::size_t size, bool hasLineFeed) {
    return (size + (hasLineFeed ? 1 : 0) + kPiece - 1) / kPiece;
}

// The conversion loop's view of the check: each line, as the loop meets it.
// NoCheck does nothing, so that the plain run pays nothing.
struct NoCheck {
    void blankLines(std::uint64_t /*count*/) {}
    void plainLine(std::string_view /*rest*/, const PlainLine& /*plain*/, const char* /*record*/) {}
    void otherLine(std::string_view /*content*/) {}
};

class Check {
  public:
    explicit Check(LineReports& reports) : source_(reports) {}

    void blankLines(std::uint64_t count) { number_ += count; }

    // A line the plain fast path took from `rest`; `record` is its widening,
    // not yet taken by the writer. Only an unsound one needs the full check.
    void plainLine(std::string_view rest, const PlainLine& plain, const char* record) {
        const std::size_t end = plain.consumed - (rest[plain.consumed - 2] == '\r' ? 2 : 1);
        const std::string_view line = rest.substr(0, end);
        if (soundPlainLine(line, std::string_view(record, plain.written))) {
            source_.soundLine(number_, line);
        } else {
            source_.line(number_, line);
        }
        ++number_;
    }

    // Any other line, without its line feed.
    void otherLine(std::string_view content) { source_.line(number_++, content); }

    // After the last line of `text`; `rest` is what follows its Ctrl-Z.
    void finish(std::string_view text, std::string_view rest) {
        source_.finish(text, number_, rest);
    }

  private:
    SourceCheck source_;
    std::uint64_t number_ = 1; // of the next line, as an editor numbers it
};

// Where the line after a line the plain path did not take begins, and how
// many pieces that line counts as.
struct OtherLine {
    const char* next;
    std::uint64_t pieces;
};

// Counts `content`, a line the plain path did not take, of `size` characters
// without carriage returns, in `counts` if it is an S2 or S3 record, or,
// `converted` to no record, no record at all; its mark and type are read
// with carriage returns dropped, as the conversion reads them.
void countUnconverted(std::string_view content, std::size_t size, bool converted, Counts& counts) {
    char head[2] = {};
    std::size_t got = 0;
    for (std::size_t at = 0; at < content.size() && got < 2; ++at) {
        if (content[at] != '\r') {
            head[got++] = content[at];
        }
    }
    const bool mark = got == 2 && (head[0] == 'S' || head[0] == 's');
    if (mark && head[1] >= '0' && head[1] <= '9' && size <= kMaxRecordLine) {
        counts.droppedS2 += head[1] == '2' ? 1 : 0;
        counts.droppedS3 += head[1] == '3' ? 1 : 0;
    } else if (!converted && content.find_first_not_of(" \t\r") != std::string_view::npos) {
        ++counts.noRecords;
    }
}

// Converts a line the plain path did not take, the general way, and counts
// it in `counts` if it is no record to convert.
template <class Checker>
[[gnu::noinline]] OtherLine convertOtherLine(const char* at, const char* end, Writer& out,
                                             Checker& check, Counts& counts) {
    const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    const char* const stop = lf == nullptr ? end : static_cast<const char*>(lf);
    std::string_view content(at, static_cast<std::size_t>(stop - at));
    if (!content.empty() && content.back() == '\r') { // CR LF line end
        content.remove_suffix(1);
    }
    check.otherLine(content);
    const std::uint64_t before = out.written();
    std::size_t size = content.size();
    if (std::memchr(content.data(), '\r', size) == nullptr) {
        convertLine(content, out);
    } else {
        size = convertStrippedLine(content, out);
    }
    countUnconverted(content, size, out.written() != before, counts);
    return {lf == nullptr ? end : stop + 1, getLineNum(size, lf != nullptr)};
}

// The counts of a conversion whose lines are all read: nullopt if the sink
// failed, and the last records held back if there was nothing to convert.
std::optional<Counts> lastRecords(Writer& out, Counts counts) {
    if (out.failed()) {
        return std::nullopt;
    }
    if (counts.droppedS2 + counts.droppedS3 + counts.noRecords != 0 && !out.holdsData()) {
        counts.nothingToConvert = true;
        return counts;
    }
    if (!out.flush()) {
        return std::nullopt;
    }
    return counts;
}

template <class Checker>
std::optional<Counts> convertLines(std::string_view text, Sink& sink, Checker& check) {
    Writer out(sink);
    std::uint64_t lines = 0;
    Counts unconverted; // of lines that are never plain
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end && !out.failed()) {
        const std::string_view rest(at, static_cast<std::size_t>(end - at));
        if (*at == '\n') { // blank lines; hostile files hold millions
            const char* const first = at;
            do {
                ++at;
            } while (at < end && *at == '\n');
            lines += static_cast<std::uint64_t>(at - first);
            check.blankLines(static_cast<std::uint64_t>(at - first));
            continue;
        }
        const PlainLine plain = convertPlainLine(rest, out.room());
        if (plain.consumed != 0) { // nearly every line of a real file
            check.plainLine(rest, plain, out.room());
            out.record(plain.written);
            out.flushIfFull();
            ++lines;
            at += plain.consumed;
            continue;
        }
        const OtherLine other = convertOtherLine(at, end, out, check, unconverted);
        lines += other.pieces;
        at = other.next;
    }
    unconverted.lines = lines;
    unconverted.written = out.written();
    return lastRecords(out, unconverted);
}

class DiscardSink : public Sink {
  public:
    bool write(std::string_view /*bytes*/) override { return true; }
};

} // namespace

std::size_t dataLength(std::string_view bytes) {
    const void* stop = std::memchr(bytes.data(), '\x1A', bytes.size());
    return stop == nullptr
               ? bytes.size()
               : static_cast<std::size_t>(static_cast<const char*>(stop) - bytes.data());
}

bool holdsData(std::string_view text) {
    return text.find_first_not_of('\r') != std::string_view::npos;
}

// Kept out of its callers, so that the plain loop compiles alike whatever
// they and the checked conversion hold.
[[gnu::noinline]] std::optional<Counts> convertText(std::string_view text, Sink& sink) {
    NoCheck none;
    return convertLines(text, sink, none);
}

std::optional<Counts> convertText(std::string_view text, Sink& sink, LineReports& reports,
                                  std::string_view rest) {
    Check check(reports);
    const auto counts = convertLines(text, sink, check);
    check.finish(text, rest);
    return counts;
}

void checkText(std::string_view text, LineReports& reports, std::string_view rest) {
    DiscardSink sink;
    Check check(reports);
    convertLines(text, sink, check);
    check.finish(text, rest);
}

} // namespace quorvex
