#include "conversion.h"

#include "background.h"
#include "check.h"
#include "lines.h"
#include "record/record.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace quorvex {
namespace {

constexpr std::size_t kChunk = std::size_t{64} * 1024;
// A source from which on chunks are written by a second thread (see
// BackgroundWriter), below which starting one costs more than it saves; and
// its chunks, each handed over with a wake-up or two: a larger chunk wakes
// less often (64 KiB chunks made a 100 MB file slower than without it).
constexpr std::size_t kBackgroundFrom = std::size_t{4} * 1024 * 1024;
constexpr std::size_t kBackgroundChunk = std::size_t{1024} * 1024;
// Enough for the two records of a split line, with their line ends.
constexpr std::size_t kLineRoom = 2 * (convertRoom(kPiece) + 2);

// Collects records into chunks for the sink. With `background`, a second
// thread writes each chunk while the next is filled, in a buffer of its own.
class Writer {
  public:
    explicit Writer(Sink& sink, bool background = false) : sink_(sink) {
        if (!background || !startBackground()) {
            for (auto& buffer : buffer_) {
                buffer.reset();
            }
            buffer_[0].reset(new char[chunk_ + kLineRoom]);
        }
        start();
    }

    // Room for the records of one piece or split line.
    char* room() { return at_; }

    // Takes `size` bytes written at room() as a record and ends it with CR LF.
    void record(std::size_t size) {
        uncounted(size);
        ++written_;
    }

    // The same, for a record its caller counts: the plain loop's, one a
    // line, counted by the lines.
    void uncounted(std::size_t size) {
        char* end = at_ + size;
        end[0] = '\r';
        end[1] = '\n';
        at_ = end + 2;
    }

    void flushIfFull() {
        if (at_ >= full_) {
            flush();
        }
    }

    [[gnu::noinline]] bool flush() { // out of the plain loop, which keeps its registers
        if (!failed_) {
            failed_ = background_ ? !handOver() : !sink_.write(held());
        }
        start();
        return !failed_;
    }

    // Writes what is held and waits until every chunk is written: true when
    // all were.
    bool close() {
        failed_ = !flush() || (background_ && !background_->finish());
        return !failed_;
    }

    // Calls each(record) for each record held, without its line end.
    template <class Each> void eachHeld(Each each) const {
        for (std::string_view rest = held(); !rest.empty();) {
            const std::size_t end = rest.find('\r'); // every record ends in CR LF
            each(rest.substr(0, end));
            rest.remove_prefix(end + 2);
        }
    }

    // Lets go of the records held, unwritten.
    void discard() { at_ = current(); }

    bool failed() const { return failed_; }
    // The records counted (see uncounted()).
    std::uint64_t written() const { return written_; }

  private:
    // The buffers and the second thread, where memory and the system give
    // them: else the chunks are written in turn, as for a small source.
    bool startBackground() {
        for (auto& buffer : buffer_) {
            buffer.reset(new (std::nothrow) char[kBackgroundChunk + kLineRoom]);
            if (!buffer) {
                return false;
            }
        }
        background_ = std::make_unique<BackgroundWriter>(sink_);
        if (!background_->started()) {
            background_.reset();
            return false;
        }
        chunk_ = kBackgroundChunk;
        buffers_ = kBuffers;
        return true;
    }

    std::string_view held() const { return {current(), static_cast<std::size_t>(at_ - current())}; }
    char* current() const { return buffer_[current_].get(); }
    // Starts a chunk in the current buffer.
    void start() {
        at_ = current();
        full_ = at_ + chunk_;
    }
    // Hands the chunk to the second thread, and takes the next buffer, whose
    // chunk is done, to fill next.
    bool handOver() {
        const bool handed = background_->hand(current(), held().size());
        current_ = (current_ + 1) % buffers_;
        return handed;
    }

    Sink& sink_;
    std::size_t chunk_ = kChunk; // the size from which on a chunk is written
    static constexpr std::size_t kBuffers = BackgroundWriter::kDepth + 1;
    std::unique_ptr<char[]> buffer_[kBuffers]; // in turn with a second thread; else the first
    std::size_t buffers_ = 1;
    std::size_t current_ = 0;
    std::unique_ptr<BackgroundWriter> background_; // ended before the buffers go
    char* at_ = nullptr;   // in the current buffer: the room for the next record
    char* full_ = nullptr; // in the current buffer: where the chunk is full
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

void convertPiece(std::string_view piece, Writer& out) {
    if (piece.size() >= kShortestRecord && isSelectedType(piece[1])) {
        out.record(convert(piece, out.room()));
        out.flushIfFull();
    }
}

// Converts a whole line, without its line feed, carriage returns dropped:
// at most kMaxRecordLine characters, an S1 line too long for one S3 record
// split in two.
void convertWholeLine(std::string_view content, Writer& out) {
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

// Converts a line the plain path did not take, the general way.
void convertLine(const Line& line, LineReader& reader, Writer& out) {
    if (!line.selected) {
        return; // no piece of it is converted
    }
    if (line.whole()) {
        convertWholeLine(line.head, out);
    } else {
        reader.eachPiece(line, [&out](std::string_view piece) { convertPiece(piece, out); });
    }
}

// Counts in `counts` a line the plain path did not take if it is an S2 or S3
// record, of any length, or, `converted` to no record, no record at all: not
// a mark and a type digit first, or longer than any record.
void countUnconverted(const Line& line, bool converted, Counts& counts) {
    const bool record = line.kind == LineKind::Record;
    if (record && (line.type() == '2' || line.type() == '3')) {
        counts.droppedS2 += line.type() == '2' ? 1 : 0;
        counts.droppedS3 += line.type() == '3' ? 1 : 0;
    } else if (!converted && line.kind != LineKind::Blank &&
               !(record && line.size <= kMaxRecordLine)) {
        ++counts.noRecords;
    }
}

// The conversion's view of the check: each line, as the reader gives it.
// NoCheck does nothing, so that the plain run pays nothing.
struct NoCheck {
    void plainLine(std::uint64_t /*number*/, std::string_view /*raw*/,
                   std::string_view /*record*/) {}
    void line(const Line& /*line*/) {}
};

// The conversion, as it reads the lines (see LineReader::readAll).
template <class Checker> class Converting {
  public:
    Converting(Sink& sink, Checker& check, LineReader& reader, bool background)
        : out_(sink, background), check_(check), reader_(reader) {}

    bool stopped() const { return out_.failed(); }
    LineReader& reader() { return reader_; }
    void emptyLines(std::uint64_t count) { emptyLines_ += count; }
    PlainLine tryPlain(std::string_view rest) { return convertPlainLine(rest, out_.room()); }
    void plainLine(std::uint64_t number, std::string_view raw, const PlainLine& plain) {
        check_.plainLine(number, raw, std::string_view(out_.room(), plain.written));
        out_.uncounted(plain.written); // one a line: counted in finish()
        out_.flushIfFull();
    }
    void line(const Line& line) {
        check_.line(line);
        ++otherLines_;
        otherPieces_ += line.pieces();
        const std::uint64_t before = out_.written();
        convertLine(line, reader_, out_);
        countUnconverted(line, out_.written() != before, counts_);
    }

    // Once every line is read: the counts, nullopt if the sink failed.
    std::optional<Counts> finish() {
        if (out_.failed() || !out_.close()) {
            return std::nullopt;
        }
        // Every line counts one piece, but those the plain path did not
        // take; each plain line gives one record.
        const std::uint64_t plainLines = reader_.number() - 1 - otherLines_ - emptyLines_;
        counts_.lines = plainLines + emptyLines_ + otherPieces_;
        counts_.written = out_.written() + plainLines;
        return counts_;
    }

  private:
    Writer out_;
    Checker& check_;
    LineReader& reader_;
    Counts counts_;                // of the lines that are never plain
    std::uint64_t otherLines_ = 0; // the lines the plain path did not take
    std::uint64_t otherPieces_ = 0;
    std::uint64_t emptyLines_ = 0; // those read in runs, as the plain path does not take them
};

template <class Checker>
std::optional<Counts> convertLines(Sink& sink, Checker& check, LineReader& reader,
                                   std::size_t size) {
    Converting<Checker> visit(sink, check, reader, size >= kBackgroundFrom);
    reader.readAll(visit);
    return visit.finish();
}

class DiscardSink : public Sink {
  public:
    bool write(std::string_view /*bytes*/) override { return true; }
};

// The survey, as it reads the lines: the conversion's own records, to a
// writer that lets them go, up to the first data record.
class Surveying {
  public:
    explicit Surveying(LineReader& reader) : out_(sink_), reader_(reader) {}

    bool stopped() const { return data_; }
    LineReader& reader() { return reader_; }
    void emptyLines(std::uint64_t /*count*/) { lines_ = true; }
    PlainLine tryPlain(std::string_view rest) { return convertPlainLine(rest, out_.room()); }
    void plainLine(std::uint64_t /*number*/, std::string_view /*raw*/, const PlainLine& plain) {
        lines_ = true;
        out_.record(plain.written);
        look();
    }
    void line(const Line& line) {
        lines_ = lines_ || line.pieces() != 0;
        const std::uint64_t before = out_.written();
        convertLine(line, reader_, out_);
        countUnconverted(line, out_.written() != before, counts_);
        look();
    }

    Survey result() const {
        Survey found;
        if (!lines_) {
            return found;
        }
        found.droppedRecords = counts_.droppedS2 + counts_.droppedS3 != 0;
        found.foreignMark = sRecords_ ? '\0' : foreignMark_;
        const bool converts =
            data_ || (!found.droppedRecords && counts_.noRecords == 0 && foreignMark_ == '\0');
        found.verdict = converts ? Survey::Verdict::Converts : Survey::Verdict::NothingToConvert;
        return found;
    }

  private:
    // Notes what the records just written begin with, and lets them go. A
    // data record is an S3 one, from an S1 line; one whose mark is no S is
    // none, as no loader would take it.
    void look() {
        out_.eachHeld([this](std::string_view record) {
            const bool s = isMark(record[0]);
            sRecords_ = sRecords_ || s;
            data_ = data_ || (s && record[1] == '3');
            foreignMark_ = s || foreignMark_ != '\0' ? foreignMark_ : record[0];
        });
        out_.discard();
    }

    DiscardSink sink_;
    Writer out_;
    LineReader& reader_;
    Counts counts_;
    bool lines_ = false;    // any line at all: a piece read
    bool data_ = false;     // a data record
    bool sRecords_ = false; // a record whose mark is S
    char foreignMark_ = 0;  // the first mark of a record that is no S
};

} // namespace

Survey survey(std::string_view text) {
    LineReader reader(text);
    Surveying visit(reader);
    reader.readAll(visit);
    return visit.result();
}

// Each kept out of its callers, so that its loop compiles alike whatever
// they hold, with the registers to itself.
[[gnu::noinline]] std::optional<Counts> convertText(std::string_view text, Sink& sink) {
    NoCheck none;
    LineReader reader(text);
    return convertLines(sink, none, reader, text.size());
}

[[gnu::noinline]] std::optional<Counts> convertText(std::string_view text, Sink& sink,
                                                    LineReports& reports, std::string_view rest) {
    Check check(reports);
    LineReader reader(text);
    const auto counts = convertLines(sink, check, reader, text.size());
    check.finish(reader, rest);
    return counts;
}

} // namespace quorvex
