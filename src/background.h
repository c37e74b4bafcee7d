// A second thread that writes the conversion's chunks to the sink while the
// next ones are made, so that the writing's system time and the conversion
// overlap: for large sources only, where that pays. The sink is written from
// that thread alone, in order, up to its first failure; nothing else changes.
//
// A chunk handed over is queued, then written, then done; the caller leaves
// it untouched until it is done, which it is once kDepth more have been
// handed over, or finish() has returned: kDepth + 1 buffers take turns. A
// failed write ends the writing: nothing more is queued. The destructor
// waits for the chunk being written, drops the rest, and ends the thread.
#pragma once

#include "sink.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <thread>

namespace quorvex {

class BackgroundWriter {
  public:
    // The chunks handed over and not yet done: one being written, one that
    // waits, which the thread then finds ready rather than wait to be woken
    // for it (1 ms in 10 on a 100 MB file).
    static constexpr std::size_t kDepth = 2;

    // Starts the thread; started() is false when none could be started, and
    // the caller then writes to the sink itself.
    explicit BackgroundWriter(Sink& sink);
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    bool started() const { return thread_.joinable(); }

    // Queues the `size` bytes at `chunk`, once fewer than kDepth are not
    // done. False, with nothing queued, once a write has failed.
    bool hand(const char* chunk, std::size_t size);
    // Waits until every chunk is written: true when every write succeeded.
    bool finish();

  private:
    void run();

    Sink& sink_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string_view queue_[kDepth]; // a ring: the first is being written
    std::size_t first_ = 0;
    std::size_t queued_ = 0; // the chunks not done
    bool failed_ = false;
    bool ending_ = false;
    std::thread thread_; // last: started once all above is set
};

} // namespace quorvex
