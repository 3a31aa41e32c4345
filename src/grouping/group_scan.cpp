#include "grouping/group_scan.h"

#include <algorithm>
#include <utility>

#include "support/thread_start.h"

namespace twintone {

ParallelGroupScan::ParallelGroupScan(unsigned nHelpers, std::function<void()> pfnWake)
    : pfnWake_(std::move(pfnWake)) {
  StartThreads(&vecHelpers_, nHelpers, [this] { HelperLoop(); }, [this] { Stop(); });
}

ParallelGroupScan::~ParallelGroupScan() {
  StopThreads(&vecHelpers_, [this] { Stop(); });
}

void ParallelGroupScan::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bStop_ = true;
  }
  cvWork_.notify_all();
}

void ParallelGroupScan::Work() {
  const size_t n = n_;
  const std::function<bool(size_t)>& test = *pTest_;
  for (;;) {
    size_t nLow = nNextBlock_.fetch_add(1, std::memory_order_relaxed) * kBlock;
    if (nLow >= n || nLow >= nFound_.load(std::memory_order_acquire)) return;
    size_t nHigh = std::min(n, nLow + kBlock);
    for (size_t i = nLow; i < nHigh && i < nFound_.load(std::memory_order_acquire); ++i) {
      if (!test(i)) continue;
      size_t nSeen = nFound_.load(std::memory_order_acquire);
      while (i < nSeen && !nFound_.compare_exchange_weak(nSeen, i, std::memory_order_acq_rel)) {
      }
      break;
    }
  }
}

void ParallelGroupScan::HelperLoop() {
  unsigned long nSeen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cvWork_.wait(lock, [&] { return bStop_ || nGeneration_ != nSeen; });
    if (bStop_) return;
    nSeen = nGeneration_;
    lock.unlock();
    Help();
    lock.lock();
  }
}

void ParallelGroupScan::Help() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!bOpen_.load(std::memory_order_relaxed)) return;
    ++nBusy_;
  }
  Work();
  std::lock_guard<std::mutex> lock(mutex_);
  if (--nBusy_ == 0) cvDone_.notify_one();
}

size_t ParallelGroupScan::FindFirst(size_t n, const std::function<bool(size_t)>& test) {
  if (n < kMinParallel || (vecHelpers_.empty() && !pfnWake_)) {
    for (size_t i = 0; i < n; ++i) {
      if (test(i)) return i;
    }
    return n;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    n_ = n;
    pTest_ = &test;
    nNextBlock_.store(0, std::memory_order_relaxed);
    nFound_.store(n, std::memory_order_release);
    bOpen_.store(true, std::memory_order_release);
    ++nGeneration_;
  }
  cvWork_.notify_all();
  if (pfnWake_) pfnWake_();
  Work();
  // Every block is handed out: helpers that come later find nothing to do, so the
  // search closes and waits only for those still testing a block.
  std::unique_lock<std::mutex> lock(mutex_);
  bOpen_.store(false, std::memory_order_relaxed);
  cvDone_.wait(lock, [this] { return nBusy_ == 0; });
  pTest_ = nullptr;
  return nFound_.load(std::memory_order_acquire);
}

}  // namespace twintone
