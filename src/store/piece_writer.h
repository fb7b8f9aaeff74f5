#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace vantory {

using platform::Status;

// The buffers a PieceWriter fills and writes, which a caller writing many files can keep
// from one writer to the next instead of having each writer make its own.
struct PieceBuffers {
    static constexpr size_t kCount = 3;
    std::unique_ptr<uint8_t[]> pieces[kCount];
};

// Writes pieces to a file on a thread of its own, so that reading and sealing the next piece
// overlap with writing this one, and asks the system every few mebibytes to start sending
// what was written on to the disk, so that little is left to flush at the end. A few buffers
// go round between the two threads; the first write error stops the writing and is kept.
class PieceWriter {
  public:
    // With `kept`, its buffers are used, and those missing are made there (a caller always
    // asks for the same `capacity`); without, the writer makes its own.
    PieceWriter(platform::AtomicFile& file, size_t capacity, PieceBuffers* kept = nullptr)
        : file_(file), buffers_(kept != nullptr ? *kept : own_) {
        for (size_t i = 0; i < kBuffers; ++i) {
            if (!buffers_.pieces[i]) {
                buffers_.pieces[i] = std::make_unique_for_overwrite<uint8_t[]>(capacity);
            }
            free_.push_back(i);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~PieceWriter() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    // A buffer to fill, once one is free; null after a write error.
    uint8_t* take() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || !failure_.ok(); });
        if (!failure_.ok()) {
            return nullptr;
        }
        taken_ = free_.front();
        free_.pop_front();
        return buffers_.pieces[taken_].get();
    }
    // Queues the first n bytes of the buffer last taken.
    void submit(size_t n) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({taken_, n});
        }
        changed_.notify_all();
    }
    // Waits until everything queued is written; the first write error, if any.
    Status drain() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return free_.size() == kBuffers || !failure_.ok(); });
        return failure_;
    }

  private:
    static constexpr size_t kBuffers = PieceBuffers::kCount;
    // Writing to disk is started whenever this much more has been written.
    static constexpr size_t kWritebackStep = size_t{8} << 20;

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
            if (queue_.empty()) {
                return;
            }
            const auto [index, n] = queue_.front();
            queue_.pop_front();
            Status written;
            if (failure_.ok()) {
                lock.unlock();
                written = file_.write(buffers_.pieces[index].get(), n);
                pending_ += n;
                if (written.ok() && pending_ >= kWritebackStep) {
                    file_.writeBehind();
                    pending_ = 0;
                }
                lock.lock();
            }
            if (!written.ok() && failure_.ok()) {
                failure_ = written;
            }
            free_.push_back(index);
            changed_.notify_all();
        }
    }

    platform::AtomicFile& file_;
    PieceBuffers own_;
    PieceBuffers& buffers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<size_t> free_;
    std::deque<std::pair<size_t, size_t>> queue_;
    size_t taken_ = 0;
    size_t pending_ = 0;  // bytes written since writing to disk was last started
    Status failure_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vantory
