// The source of a run, read whole into memory before the destination is
// touched, which is what lets both be the same file.
#pragma once

#include "messages.h"
#include "platform.h"

#include <filesystem>
#include <memory>
#include <string_view>

namespace quorvex {

// The source's bytes up to its first Ctrl-Z: a regular file mapped whole,
// anything else read once into a buffer that is not zero-filled first, up to
// the Ctrl-Z unless what follows it is to be checked too.
class SourceText {
  public:
    // `wait` is the run's budget for another run's lock.
    SourceText(System& system, LockWait& wait) : system_(system), wait_(wait) {}
    ~SourceText();
    SourceText(const SourceText&) = delete;
    SourceText& operator=(const SourceText&) = delete;

    // Opens and reads all of `name` (after its Ctrl-Z too if `withRest`),
    // then lets go of it; false, with `why` set, when it cannot be opened or
    // a read failed, or another run that rewrites the file where it stands
    // held it past the wait. Throws std::bad_alloc.
    bool load(const std::filesystem::path& name, bool withRest, Failure& why);

    std::string_view view() const { return {whole().data(), length_}; }

    // What follows view(): the bytes from the first Ctrl-Z on, as far as read.
    std::string_view rest() const { return whole().substr(length_); }

    // The file the text was read from.
    FileId id() const { return id_; }

    // Copies mapped bytes into memory of their own, before their file is
    // written. Throws std::bad_alloc.
    void keepOwnCopy();

  private:
    std::string_view whole() const {
        return mapped_.data() != nullptr ? mapped_ : std::string_view(data_.get(), size_);
    }
    Error read(const std::filesystem::path& name, Handle file, std::uint64_t size, bool withRest);
    void grow(std::size_t capacity);

    System& system_;
    LockWait& wait_;
    FileId id_;
    std::string_view mapped_;
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0; // up to the first Ctrl-Z
};

} // namespace quorvex
