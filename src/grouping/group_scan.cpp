#include "grouping/group_scan.h"

#include <algorithm>

#include "support/thread_start.h"

ParallelGroupScan::ParallelGroupScan(unsigned nHelpers) {
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
    Work();
    lock.lock();
    if (--nBusy_ == 0) cvDone_.notify_one();
  }
}

size_t ParallelGroupScan::FindFirst(size_t n, const std::function<bool(size_t)>& test) {
  if (n < kMinParallel || vecHelpers_.empty()) {
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
    nBusy_ = static_cast<unsigned>(vecHelpers_.size());
    ++nGeneration_;
  }
  cvWork_.notify_all();
  Work();
  std::unique_lock<std::mutex> lock(mutex_);
  cvDone_.wait(lock, [this] { return nBusy_ == 0; });
  pTest_ = nullptr;
  return nFound_.load(std::memory_order_acquire);
}
