#pragma once

// Work on many files whose cost is waiting for the disk (flushes, deletions) goes faster done
// by a few threads at once: the file system then makes the changes durable together instead
// of one journal commit after the other.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "cipher/pacer.h"

namespace vantory {

inline constexpr size_t kDiskThreads = 8;

// Calls work(i) for every i below n, on up to kDiskThreads threads, and returns once every
// call has; the calling thread ticks `pacer` meanwhile, so the window is served.
inline void ForEachAtOnce(size_t n, const std::function<void(size_t)>& work,
                          Pacer* pacer = nullptr) {
    std::atomic<size_t> next{0};
    size_t running = std::min(n, kDiskThreads);
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::thread> threads;
    for (size_t t = 0, count = running; t < count; ++t) {
        threads.emplace_back([&] {
            for (size_t i; (i = next++) < n;) {
                work(i);
            }
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(4), [&] { return running == 0; })) {
        lock.unlock();
        tick(pacer);
        lock.lock();
    }
    lock.unlock();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace vantory
