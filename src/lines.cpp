#include "lines.h"

namespace quorvex {

std::size_t dataLength(std::string_view bytes) {
    const void* stop = std::memchr(bytes.data(), '\x1A', bytes.size());
    return stop == nullptr
               ? bytes.size()
               : static_cast<std::size_t>(static_cast<const char*>(stop) - bytes.data());
}

Line LineReader::take() {
    return takeAt(at_, number_++, at_);
}

std::uint64_t LineReader::endLine() const {
    return text_.empty() || text_.back() == '\n' ? number_ : number_ - 1;
}

std::uint64_t LineReader::lineAfterLast() const {
    const std::size_t last = text_.find_last_not_of('\r');
    return endLine() + (last != std::string_view::npos && text_[last] != '\n' ? 1 : 0);
}

std::size_t LineReader::endColumn() const {
    std::size_t column = 1;
    for (std::size_t at = text_.size(); at > 0 && text_[at - 1] != '\n'; --at) {
        if (text_[at - 1] == '\r' && at + 1 < text_.size() &&
            isRecordStart(text_[at], text_[at + 1])) {
            break; // a carriage return that ends a line
        }
        column += text_[at - 1] == '\r' ? 0 : 1;
    }
    return column;
}

} // namespace quorvex
