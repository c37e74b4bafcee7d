#include "source.h"

#include "lines.h"
#include "switches.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace quorvex {
namespace {

constexpr std::size_t kReadStep = std::size_t{64} * 1024;

// What the user is told, should the mapped file fault: the message and,
// if asked for, why.
FaultTexts faultTexts(const std::filesystem::path& name) {
    FaultTexts texts{std::string(text(Message::ReadError)) + "\n", ""};
    if (switches().verbose) {
        for (const std::string& line : explanation(Failure{Step::ReadSource, name, cutShort()})) {
            texts.explanation += line + "\n";
        }
    }
    return texts;
}

} // namespace

SourceText::~SourceText() {
    if (mapped_.data() != nullptr) {
        system_.unmap(mapped_);
    }
}

bool SourceText::load(const std::filesystem::path& name, bool withRest, Failure& why) {
    Handle file = kNoHandle;
    std::uint64_t size = 0;
    if (const Error error = system_.openSource(name, file, size)) {
        why = Failure{Step::OpenSource, name, system_.reason(error)};
        return false;
    }
    const Closing closing(system_, file);
    // Another run that rewrites the file where it stands is waited for; past
    // the wait the file is not read half rewritten.
    if (lockPatiently(system_, file, false, wait_).kind == ErrorKind::Busy) {
        why = Failure{Step::ReadSource, name, lockedFor(wait_.seconds())};
        return false;
    }
    id_ = system_.id(file);
    if (const Error error = read(name, file, size, withRest)) {
        why = Failure{Step::ReadSource, name, system_.reason(error)};
        return false;
    }
    return true;
}

void SourceText::keepOwnCopy() {
    if (mapped_.data() != nullptr) {
        grow(mapped_.size());
        std::memcpy(data_.get(), mapped_.data(), mapped_.size());
        size_ = mapped_.size();
        system_.unmap(mapped_);
        mapped_ = {};
    }
}

Error SourceText::read(const std::filesystem::path& name, Handle file, std::uint64_t size,
                       bool withRest) {
    if (size != 0 && system_.map(file, size, faultTexts(name), mapped_)) {
        length_ = dataLength(mapped_);
        return {};
    }
    // One byte more than a regular file's size sees its end at once.
    grow(static_cast<std::size_t>(std::min<std::uint64_t>(size, SIZE_MAX - 1)) + 1);
    bool cut = false;
    for (;;) {
        if (size_ == capacity_) {
            grow(capacity_ + std::max(capacity_, kReadStep));
        }
        std::size_t got = 0;
        if (const Error error = system_.read(file, data_.get() + size_, capacity_ - size_, got)) {
            return error;
        }
        const std::string_view chunk(data_.get() + size_, got);
        size_ += chunk.size();
        if (!cut) {
            const std::size_t kept = dataLength(chunk);
            length_ = size_ - chunk.size() + kept;
            cut = kept < chunk.size();
        }
        if (got == 0 || (cut && !withRest)) { // after a Ctrl-Z, only the check reads
            return {};
        }
    }
}

void SourceText::grow(std::size_t capacity) {
    std::unique_ptr<char[]> more(new char[capacity]);
    if (size_ != 0) {
        std::memcpy(more.get(), data_.get(), size_);
    }
    data_ = std::move(more);
    capacity_ = capacity;
}

} // namespace quorvex
