#include "background.h"

#include "platform.h"

#include <system_error>

namespace quorvex {

BackgroundWriter::BackgroundWriter(Sink& sink) : sink_(sink) {
    try {
        thread_ = quietThread([this] { run(); });
    } catch (const std::system_error&) { // no thread to be had: written in turn
    }
}

BackgroundWriter::~BackgroundWriter() {
    if (!started()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BackgroundWriter::hand(const char* chunk, std::size_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queued_ < kDepth || failed_; });
    if (failed_) {
        return false;
    }
    queue_[(first_ + queued_) % kDepth] = std::string_view(chunk, size);
    ++queued_;
    lock.unlock();
    changed_.notify_all();
    return true;
}

bool BackgroundWriter::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queued_ == 0 || failed_; });
    return !failed_;
}

void BackgroundWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return queued_ != 0 || ending_; });
        if (ending_ || failed_) {
            return; // the chunks still queued are not wanted
        }
        const std::string_view bytes = queue_[first_];
        lock.unlock();
        const bool written = sink_.write(bytes);
        lock.lock();
        first_ = (first_ + 1) % kDepth;
        --queued_;
        failed_ = !written; // and nothing more is queued
        changed_.notify_all();
    }
}

} // namespace quorvex
