#include "snapshot/hashpool.h"

#include "core/tkerr.h"
#include "snapshot/sha1.h"
#include "snapshot/treeread.h"

#include <algorithm>

TK_MODULE("fileio");

namespace ostmere {
namespace {

// Enough results in flight that workers rarely wait for the caller's reports on small files;
// a few dozen bytes each.
constexpr size_t kWindowPerJob = 64;
// The caller is woken for this many results in a row rather than for each: on small files a
// wake per file costs about as much as hashing it.
constexpr size_t kWakeBatch = 16;

} // namespace

uint32_t hashJobsFor(CProgressSink* sink) {
    uint32_t jobs = 0;
    if (auto* options = dynamic_cast<COptionsSink*>(sink))
        jobs = options->engineOptions().hashJobs;
    if (jobs == 0)
        jobs = std::thread::hardware_concurrency();
    return std::clamp<uint32_t>(jobs, 1, EngineOptions::kMaxHashJobs);
}

CHashPool::CHashPool(size_t count, PathOf fullPath, uint8_t* buffer, size_t bufferSize,
                     uint32_t jobs)
    : count_(count), fullPath_(std::move(fullPath)), firstFailure_(count) {
    // Each worker reads through its own slice of the caller's buffer, so the pool uses no more
    // memory for contents than the sequential code did.
    jobs = static_cast<uint32_t>(std::max<size_t>(1, std::min<size_t>({jobs, count, bufferSize})));
    window_.resize(kWindowPerJob * jobs);
    const size_t slice = bufferSize / jobs;
    try {
        for (uint32_t i = 0; i < jobs; ++i)
            workers_.emplace_back(&CHashPool::work, this, buffer + i * slice, slice);
    } catch (...) {
        stop();
        throw;
    }
}

CHashPool::~CHashPool() {
    stop();
}

void CHashPool::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    claimable_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

bool CHashPool::claim(size_t& index) {
    std::unique_lock lock(mutex_);
    claimable_.wait(lock, [&] {
        return stopping_ || nextClaim_ >= std::min(count_, firstFailure_ + 1) ||
               nextClaim_ < nextReport_ + window_.size();
    });
    if (stopping_ || nextClaim_ >= std::min(count_, firstFailure_ + 1))
        return false;
    index = nextClaim_++;
    return true;
}

void CHashPool::work(uint8_t* slice, size_t sliceSize) {
    CFileOpener opener;
    size_t index;
    while (claim(index))
        hashOne(index, slice, sliceSize, opener);
}

void CHashPool::hashOne(size_t index, uint8_t* slice, size_t sliceSize, CFileOpener& opener) {
    Result result;
    try {
        CSha1 sha;
        sha.start();
        result.bytes =
            hashFile(slice, sliceSize, fullPath_(index), sha, &stopping_, nullptr, &opener);
        sha.finish(result.digest);
    } catch (...) {
        result.error = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        if (result.error)
            firstFailure_ = std::min(firstFailure_, index);
        result.ready = true;
        window_[index % window_.size()] = std::move(result);
        if (!callerMayGo())
            return;
    }
    ready_.notify_one();
}

// Whether the results ready in order from the caller's next one make a batch, or are all the
// caller will get until it reports (nothing else is being hashed).
bool CHashPool::callerMayGo() const {
    const size_t end = std::min(count_, firstFailure_ + 1);
    size_t i = nextReport_;
    while (i < end && i - nextReport_ < kWakeBatch && window_[i % window_.size()].ready)
        ++i;
    return i - nextReport_ == kWakeBatch || i == end || i == nextClaim_;
}

uint64_t CHashPool::next(uint8_t digest[20]) {
    std::unique_lock lock(mutex_);
    Result& slot = window_[nextReport_ % window_.size()];
    ready_.wait(lock, [&] { return slot.ready; });
    Result result = std::move(slot);
    slot = Result();
    const bool wasFull = nextClaim_ == nextReport_ + window_.size();
    ++nextReport_;
    lock.unlock();
    if (wasFull) // workers wait only for room in the window
        claimable_.notify_all();
    if (result.error)
        std::rethrow_exception(result.error);
    std::copy(result.digest, result.digest + 20, digest);
    return result.bytes;
}

} // namespace ostmere
