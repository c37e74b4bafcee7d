// A whole run on bytes, for the tests: what the survey says of the source,
// what the destination receives and the counts, with the lines checked as
// well when `reports` is given.
#pragma once

#include "conversion.h"
#include "lines.h"

#include <string>
#include <string_view>

namespace quorvex {

struct Conversion {
    Survey::Verdict verdict;
    std::string output;
    Counts counts;
};

inline Conversion convertBytes(std::string_view source, LineReports* reports = nullptr) {
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
    Conversion result;
    StringSink sink(result.output);
    const std::size_t length = dataLength(source);
    const std::string_view text = source.substr(0, length);
    result.verdict = survey(text).verdict;
    result.counts = reports == nullptr ? *convertText(text, sink)
                                       : *convertText(text, sink, *reports, source.substr(length));
    return result;
}

} // namespace quorvex
