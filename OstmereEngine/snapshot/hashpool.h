// File contents hashed on worker threads while the caller's thread reports them in order.
#pragma once

#include "OstmereEngine.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostmere {

class CFileOpener;

// The number of hashing threads a sink asks for (COptionsSink), or one per core; never more
// than EngineOptions::kMaxHashJobs, never fewer than 1.
uint32_t hashJobsFor(CProgressSink* sink);

// Hashes count files, the i-th at fullPath(i), and hands out their digests strictly in order.
// The workers run ahead of the caller by a bounded window and share the sink's work buffer,
// one slice each; the pool itself never calls the sink. An error while hashing file i is
// raised by the call of next() that asks for file i, on the caller's thread; files after a
// failing one are not started. The destructor stops the workers (a file being read is left
// at its next chunk) and joins them, also while an exception such as a cancel passes.
class CHashPool {
  public:
    using PathOf = std::function<std::u16string(size_t)>;

    CHashPool(size_t count, PathOf fullPath, uint8_t* buffer, size_t bufferSize, uint32_t jobs);
    ~CHashPool();
    CHashPool(const CHashPool&) = delete;
    CHashPool& operator=(const CHashPool&) = delete;

    // The digest of the next file in order, waiting for it when needed; returns its size, which
    // the caller reports as the bytes done (the workers never call the sink).
    uint64_t next(uint8_t digest[20]);

  private:
    struct Result {
        bool ready = false;
        uint8_t digest[20];
        uint64_t bytes = 0;
        std::exception_ptr error;
    };

    void work(uint8_t* slice, size_t sliceSize);
    bool claim(size_t& index);
    void hashOne(size_t index, uint8_t* slice, size_t sliceSize, CFileOpener& opener);
    bool callerMayGo() const;
    void stop();

    const size_t count_;
    const PathOf fullPath_;
    std::vector<Result> window_; // result of file i in window_[i % size]
    std::mutex mutex_;
    std::condition_variable claimable_; // workers wait for room in the window
    std::condition_variable ready_;     // the caller waits for its next result
    size_t nextClaim_ = 0;
    size_t nextReport_ = 0;
    size_t firstFailure_; // no file after it is started
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> workers_;
};

} // namespace ostmere
