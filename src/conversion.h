// The conversion of a whole source text, independent of files: the records
// of the lines the reader gives, in 64 KiB chunks to a sink; and, before
// that, whether there is anything to convert at all.
#pragma once

#include "sink.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvex {

class LineReports;

// What a source holds, for the decision whether to convert it, made before
// anything is written.
struct Survey {
    enum class Verdict {
        NoLine,           // nothing but carriage returns, or nothing at all
        NothingToConvert, // S2 or S3 records, lines that are no records, or
                          // records whose mark is no S, and not one data
                          // record: a source of another kind (an S2 image,
                          // a file converted already, Intel HEX, a binary,
                          // another kind of text)
        Converts,         // a data record, or records and blank lines alone
    };
    Verdict verdict = Verdict::NoLine;
    // Of NothingToConvert: S2 or S3 records among its lines; or, where none
    // of the records it would give begins with S (Intel HEX, a binary), the
    // first character they would begin with.
    bool droppedRecords = false;
    char foreignMark = 0;
};

// Reads the source text (cut at its Ctrl-Z) as the conversion does, as far
// as it takes to know whether it converts: up to the first data record.
Survey survey(std::string_view text);

struct Counts {
    std::uint64_t lines = 0;   // line pieces read
    std::uint64_t written = 0; // records written
    // Lines that begin S2 or S3 (s2, s3), whose data the conversion drops.
    std::uint64_t droppedS2 = 0;
    std::uint64_t droppedS3 = 0;
    // Lines that are neither blank nor a record's: not S or s and a digit, or
    // longer than any record (but S2 and S3 records); and that convert to
    // nothing.
    std::uint64_t noRecords = 0;
};

// Reads a source text (cut at its Ctrl-Z) under the text reading rules and
// writes the widened form of every piece whose second character is '1' or
// '9' to `sink`, each record followed by CR LF. Returns the counts; nullopt
// as soon as the sink fails.
std::optional<Counts> convertText(std::string_view text, Sink& sink);

// The same conversion, which also checks every line on the way and the file
// as a whole, and adds the reported lines to `reports`; `rest` is what the
// source holds from its first Ctrl-Z on. The records written are exactly
// those of convertText().
std::optional<Counts> convertText(std::string_view text, Sink& sink, LineReports& reports,
                                  std::string_view rest = {});

} // namespace quorvex
