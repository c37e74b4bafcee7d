#include "conversion.h"

#include "record/record.h"

#include <cstring>

namespace quorvex {
namespace {

constexpr char kCtrlZ = '\x1A';
constexpr std::size_t kChunk = 64 * 1024;
// Enough for the two records of a split line, with their line ends.
constexpr std::size_t kLineRoom = 2 * (convertRoom(kMaxRecordText) + 2);

// Length of the line at `pos`, its line feed included.
std::size_t lineLength(std::string_view text, std::size_t pos) {
    const void* lf = std::memchr(text.data() + pos, '\n', text.size() - pos);
    return lf == nullptr
               ? text.size() - pos
               : static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) - pos + 1;
}

// Collects records into chunks for the sink.
class Writer {
  public:
    explicit Writer(Sink& sink) : sink_(sink), buffer_(kChunk + kLineRoom, '\0') {}

    // Room for the records of one line.
    char* room() { return &buffer_[used_]; }

    // Takes `size` bytes written at room() as a record and ends it with CR LF.
    void record(std::size_t size) {
        used_ += size;
        buffer_[used_++] = '\r';
        buffer_[used_++] = '\n';
        ++written_;
    }

    bool flushIfFull() { return used_ < kChunk || flush(); }

    bool flush() {
        const bool ok = sink_.write(std::string_view(buffer_.data(), used_));
        used_ = 0;
        return ok;
    }

    std::uint64_t written() const { return written_; }

  private:
    Sink& sink_;
    std::string buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
};

// Converts one line; false when the sink failed.
bool convertLine(std::string_view line, Writer& out) {
    if (line.size() > kPiece && needsSplit(line)) {
        char* head = out.room();
        auto sizes = convertSplit(line, head, head + convertRoom(kMaxRecordText));
        // The tail was written behind room for the longest head; close the gap.
        out.record(sizes.first);
        std::memmove(out.room(), head + convertRoom(kMaxRecordText), sizes.second);
        out.record(sizes.second);
        return out.flushIfFull();
    }
    for (std::size_t at = 0; at < line.size(); at += kPiece) {
        std::string_view piece = line.substr(at, kPiece);
        if (piece.size() >= 2 && (piece[1] == '1' || piece[1] == '9')) {
            const std::size_t size = convert(piece, out.room());
            if (size != 0) {
                out.record(size);
            }
            if (!out.flushIfFull()) {
                return false;
            }
        }
    }
    return true;
}

class StringSink : public Sink {
  public:
    explicit StringSink(std::string& out) : out_(out) {}
    bool write(std::string_view bytes) override {
        out_.append(bytes);
        return true;
    }

  private:
    std::string& out_;
};

} // namespace

bool appendText(std::string& text, std::string_view chunk) {
    const void* stop = std::memchr(chunk.data(), kCtrlZ, chunk.size());
    const bool ended = stop != nullptr;
    if (ended) {
        chunk = chunk.substr(
            0, static_cast<std::size_t>(static_cast<const char*>(stop) - chunk.data()));
    }
    while (!chunk.empty()) {
        const std::size_t cr = chunk.find('\r');
        text.append(chunk.substr(0, cr));
        if (cr == std::string_view::npos) {
            break;
        }
        chunk.remove_prefix(cr + 1);
    }
    return ended;
}

std::uint64_t getLineNum(std::string_view text) {
    std::uint64_t num = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t size = lineLength(text, pos);
        num += (size + kPiece - 1) / kPiece;
        pos += size;
    }
    return num;
}

std::optional<std::uint64_t> convertText(std::string_view text, Sink& sink) {
    Writer out(sink);
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t size = lineLength(text, pos);
        if (!convertLine(text.substr(pos, size), out)) {
            return std::nullopt;
        }
        pos += size;
    }
    if (!out.flush()) {
        return std::nullopt;
    }
    return out.written();
}

Conversion convertBytes(std::string_view source) {
    Conversion result;
    std::string text;
    appendText(text, source);
    result.lines = getLineNum(text);
    StringSink sink(result.output);
    result.written = *convertText(text, sink);
    return result;
}

} // namespace quorvex
