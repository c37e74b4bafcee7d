// The conversion of a whole source text, independent of files: the DOS text
// reading rules, the cutting into line pieces and the writing of records.
#pragma once

#include "sink.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

class LineReports;

// The first Ctrl-Z ends the source's data: the number of bytes before it in
// `bytes`, or all of them. Whatever follows a Ctrl-Z is never read.
std::size_t dataLength(std::string_view bytes);

// True when a source text holds a line at all: any byte but a carriage return.
bool holdsData(std::string_view text);

struct Counts {
    std::uint64_t lines = 0;   // line pieces read
    std::uint64_t written = 0; // records written
    // Lines that begin S2 or S3 (s2, s3), whose data the conversion drops.
    std::uint64_t droppedS2 = 0;
    std::uint64_t droppedS3 = 0;
    // Lines that are neither blank nor a record's: not S or s and a digit, or
    // longer than any record.
    std::uint64_t noRecords = 0;
    // Such lines or records, and not one data record to convert: nothing was
    // given to the sink, as the source is taken for one of another kind (an
    // S2 image, a file converted already, another kind of file or text).
    bool nothingToConvert = false;
};

// Reads a source text (cut at its Ctrl-Z) under the text reading rules, with
// every carriage return dropped, and writes the widened form of every piece
// whose second character is '1' or '9' to `sink`, each record followed by
// CR LF; unless nothingToConvert. Returns the counts; nullopt as soon as the
// sink fails.
std::optional<Counts> convertText(std::string_view text, Sink& sink);

// The same conversion, which also checks every line on the way and the file
// as a whole, and adds the reported lines to `reports`, numbered as an editor
// numbers them; `rest` is what the source holds from its first Ctrl-Z on. The
// records written are exactly those of convertText().
std::optional<Counts> convertText(std::string_view text, Sink& sink, LineReports& reports,
                                  std::string_view rest = {});

// Only the check: the lines of a source text (cut at its Ctrl-Z, `rest`
// being what follows) that are to be reported, before anything is written.
void checkText(std::string_view text, LineReports& reports, std::string_view rest = {});

} // namespace quorvex
