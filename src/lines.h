// The one reader of the source as DOS text. Every rule of reading it lives
// here, once: the first Ctrl-Z ends the data, a carriage return alone ends
// a line where a record follows it and is dropped wherever else it stands,
// and a line is read in pieces of at most kPiece
// characters, each of which counts as a line read. The conversion, the check
// and the survey of what a source holds all take their lines from it, each
// line once, with what each of them needs to know of it.
#pragma once

#include "record/record.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quorvex {

// The first Ctrl-Z ends the source's data: the number of bytes before it in
// `bytes`, or all of them. Whatever follows a Ctrl-Z is never read.
std::size_t dataLength(std::string_view bytes);

// How many pieces a line of `size` characters (carriage returns dropped)
// counts as, its line feed, if it has one, included: a line feed that would
// be the 512th character is a piece of its own.
constexpr std::uint64_t pieceCount(std::size_t size, bool lineFeed) {
    return (size + (lineFeed ? 1 : 0) + kPiece - 1) / kPiece;
}

// What a line holds, as its first characters tell.
enum class LineKind : std::uint8_t {
    Blank,  // nothing but spaces and tabs, or nothing at all
    Record, // a mark and a type digit first: a record of that type, sound or not
    Other,  // anything else: another kind of text, or a record behind something
};

// How many characters of a line the reader keeps with its carriage returns
// dropped: enough for the longest record and one more, which tells a line
// longer than any record.
inline constexpr std::size_t kHead = kMaxRecordLine + 1;

// One line of the source, as the reader gives it. Its views are valid until
// the reader gives the next line.
struct Line {
    std::uint64_t number = 0; // as an editor counts it: from 1, by line feeds
    std::string_view raw;     // as the source holds it, without its line end (LF or CR LF)
    std::string_view head;    // its first kHead characters, carriage returns dropped
    std::size_t size = 0;     // its characters, carriage returns dropped
    bool lineFeed = false;    // it ends in a line feed: it is not the last, open line
    bool selected = false;    // a piece of it has '1' or '9' second: the conversion takes it
    LineKind kind = LineKind::Blank;

    // The type digit of a Record line.
    char type() const { return head[1]; }
    // Whether head holds all of it.
    bool whole() const { return size < kHead; }
    std::uint64_t pieces() const {
        return size < kPiece ? (size != 0 || lineFeed ? 1 : 0) : pieceCount(size, lineFeed);
    }
};

// A line the plain fast path took (see convertPlainLine), numbered `number`:
// `raw` is what it holds before its line end, a record's characters only.
inline Line plainLineOf(std::uint64_t number, std::string_view raw) {
    Line line;
    line.number = number;
    line.raw = raw;
    line.head = raw;
    line.size = raw.size();
    line.lineFeed = true;
    line.selected = true;
    line.kind = isMark(raw[0]) ? LineKind::Record : LineKind::Other; // the mark is not read
    return line;
}

// Reads the lines of a source text, cut at its Ctrl-Z, from first to last.
class LineReader {
  public:
    explicit LineReader(std::string_view text)
        : text_(text), at_(text.data()), end_(text.data() + text.size()) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool done() const { return at_ == end_; }
    // The number the next line has.
    std::uint64_t number() const { return number_; }

    // Reads the next line under every rule.
    Line take();

    // Reads every line that is left, in order, and hands it to `visit`:
    //   visit.emptyLines(count)    a run of empty lines (hostile files hold
    //                              millions), each one piece;
    //   visit.tryPlain(rest)       the fast path: a PlainLine for a plain line
    //                              at the start of `rest` that it has taken
    //                              (see convertPlainLine), or zeros;
    //   visit.plainLine(n, raw, p) the line it took, numbered n, what it
    //                              holds before its line end (plainLineOf()
    //                              makes its Line), and what tryPlain said;
    //   visit.line(line)           any other line, from take();
    //   visit.stopped()            true to read no further;
    //   visit.reader()             this reader.
    template <class Visit> void readAll(Visit& visit);

    // Calls each(piece) for each piece of `line`, the line taken last, with
    // carriage returns dropped and without its line feed: a text of up to
    // kPiece characters, valid during the call.
    template <class Each> void eachPiece(const Line& line, Each each);

    // Once every line is read: the line on which the end of the text stands
    // (and a Ctrl-Z, if one ends it): the last line, or the one after it
    // when the last ends in a line feed.
    std::uint64_t endLine() const;
    // The line after the last one that holds anything but carriage returns.
    std::uint64_t lineAfterLast() const;
    // The column on endLine() at which the text ends.
    std::size_t endColumn() const;

  private:
    // The first `ch` in [from, to), or null.
    static const char* find(const char* from, const char* to, char ch) {
        return static_cast<const char*>(std::memchr(from, ch, static_cast<std::size_t>(to - from)));
    }
    // Reads the line that begins at `at`, numbered `number`; `next` is set
    // to where the line after it begins. Inlined where it is used: a call
    // costs a file of many other lines about 1 % of its instructions.
    [[gnu::always_inline]] inline Line takeAt(const char* at, std::uint64_t number,
                                              const char*& next);
    // The first carriage return from `cr` (one, or null) on, before `stop`,
    // that a record's start follows: one that ends the line, or null.
    static inline const char* lineEndingReturn(const char* cr, const char* stop);
    // Sets the head, size and selection of `line`, whose text `raw` holds
    // carriage returns, with them dropped.
    inline void dropReturns(std::string_view raw, Line& line);
    // What readOther() read: how many lines, and where the next begins.
    struct Taken {
        const char* next;
        std::uint64_t lines;
    };
    // Reads the line at `at`, numbered `number`, that is not plain, or the
    // run of empty lines there, and hands it to `visit`, whose reader() this
    // is. Out of line, and given one object, so that the plain loop keeps
    // few registers for it.
    template <class Visit>
    [[gnu::noinline]] static Taken readOther(Visit& visit, const char* at, std::uint64_t number) {
        if (*at == '\n') { // empty lines: hostile files hold millions
            const char* const first = at;
            const char* const end = visit.reader().end_;
            do {
                ++at;
            } while (at != end && *at == '\n');
            const auto count = static_cast<std::uint64_t>(at - first);
            visit.emptyLines(count);
            return {at, count};
        }
        const char* next = nullptr;
        const Line line = visit.reader().takeAt(at, number, next);
        visit.line(line);
        return {next, 1};
    }

    std::string_view text_;
    const char* at_;
    const char* end_;
    std::uint64_t number_ = 1;
    char head_[kHead] = {}; // the head of a line that holds carriage returns
    char piece_[kPiece] = {};
};

template <class Visit> void LineReader::readAll(Visit& visit) {
    // The cursor stays in a register, and the plain loop's code small: every
    // other line, and each run of empty lines, is read out of line.
    const char* at = at_;
    const char* const end = end_;
    while (at != end && !visit.stopped()) {
        const std::string_view rest(at, static_cast<std::size_t>(end - at));
        const PlainLine plain = visit.tryPlain(rest);
        if (plain.consumed != 0) { // nearly every line of a real file
            // A plain line holds no carriage return but in its CR LF end.
            const std::size_t size = plain.consumed - (at[plain.consumed - 2] == '\r' ? 2 : 1);
            const std::string_view raw(at, size);
            at += plain.consumed;
            visit.plainLine(number_, raw, plain);
            ++number_; // kept in memory: the plain loop needs its registers
            continue;
        }
        const Taken taken = readOther(visit, at, number_);
        at = taken.next;
        number_ += taken.lines;
    }
    at_ = at;
}

Line LineReader::takeAt(const char* at, std::uint64_t number, const char*& next) {
    const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(end_ - at));
    const char* stop = lf == nullptr ? end_ : static_cast<const char*>(lf);
    Line line;
    line.number = number;
    line.lineFeed = lf != nullptr;
    // A carriage return alone ends the line where a record follows it, so
    // that a file of such line ends (old Mac tools) reads as its LF form;
    // every other carriage return is dropped.
    const char* const cr = find(at, stop, '\r');
    if (const char* const end = lineEndingReturn(cr, stop); end != nullptr) {
        stop = end;
        line.lineFeed = true;
    }
    next = stop == end_ ? end_ : stop + 1;
    std::string_view raw(at, static_cast<std::size_t>(stop - at));
    if (!raw.empty() && raw.back() == '\r') { // a CR LF line end
        raw.remove_suffix(1);
    }
    line.raw = raw;
    if (cr == nullptr || cr >= raw.data() + raw.size()) { // no carriage return: nearly always
        line.head = raw.substr(0, kHead);
        line.size = raw.size();
        line.selected = raw.size() > 1 && isSelectedType(raw[1]);
        for (std::size_t piece = kPiece + 1; piece < raw.size() && !line.selected;
             piece += kPiece) {
            line.selected = isSelectedType(raw[piece]);
        }
    } else {
        dropReturns(raw, line);
    }
    if (line.head.size() >= 2 && isRecordStart(line.head[0], line.head[1])) {
        line.kind = LineKind::Record;
    } else if (raw.find_first_not_of(" \t\r") != std::string_view::npos) {
        line.kind = LineKind::Other;
    }
    return line;
}

const char* LineReader::lineEndingReturn(const char* cr, const char* stop) {
    for (const char* end = cr; end != nullptr && end + 1 != stop; end = find(end + 1, stop, '\r')) {
        if (stop - end > 2 && isRecordStart(end[1], end[2])) {
            return end;
        }
    }
    return nullptr;
}

void LineReader::dropReturns(std::string_view raw, Line& line) {
    std::size_t size = 0; // the characters so far, carriage returns dropped
    for (const char ch : raw) {
        if (ch == '\r') {
            continue;
        }
        if (size < kHead) {
            head_[size] = ch;
        }
        line.selected = line.selected || (size % kPiece == 1 && isSelectedType(ch));
        ++size;
    }
    line.head = std::string_view(head_, size < kHead ? size : kHead);
    line.size = size;
}

template <class Each> void LineReader::eachPiece(const Line& line, Each each) {
    if (line.raw.size() == line.size) { // no carriage return: the pieces are in the text
        for (std::size_t at = 0; at < line.size; at += kPiece) {
            each(line.raw.substr(at, kPiece));
        }
        return;
    }
    std::size_t used = 0;
    for (const char ch : line.raw) {
        if (ch == '\r') {
            continue;
        }
        piece_[used++] = ch;
        if (used == kPiece) {
            each(std::string_view(piece_, used));
            used = 0;
        }
    }
    if (used != 0) {
        each(std::string_view(piece_, used));
    }
}

} // namespace quorvex
