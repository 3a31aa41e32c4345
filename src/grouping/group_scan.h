// Finds the first group, in map order, that a record passes, with the comparisons
// spread over several threads. The answer is the one a loop from the first group
// would give.
#ifndef TWINTONE_GROUPING_GROUP_SCAN_H
#define TWINTONE_GROUPING_GROUP_SCAN_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace twintone {

class ParallelGroupScan {
 public:
  // Starts nHelpers threads of its own that join the caller in every search. With
  // pfnWake, threads that someone else owns help as well: FindFirst calls pfnWake
  // each time it opens a search, and pfnWake must get them to call Help (a pool
  // that waits on a condition variable checks SearchOpen in its predicate). Throws
  // std::system_error when a thread cannot be started.
  explicit ParallelGroupScan(unsigned nHelpers, std::function<void()> pfnWake = {});
  // Joins the own helpers; no search may be running, and no other thread may be in
  // Help or about to call it.
  ~ParallelGroupScan();
  ParallelGroupScan(const ParallelGroupScan&) = delete;
  ParallelGroupScan& operator=(const ParallelGroupScan&) = delete;

  // The smallest i in [0, n) with test(i) true, or n when there is none. test runs
  // on the calling thread and on the helpers at once, so it must only read shared
  // state. Indices are handed out in blocks in ascending order, and every index
  // below the answer has been tested when this returns. One caller at a time.
  size_t FindFirst(size_t n, const std::function<bool(size_t)>& test);

  // Any thread: true while a search is open for helpers. A hint only; Help checks
  // again under the lock.
  bool SearchOpen() const { return bOpen_.load(std::memory_order_acquire); }
  // Any thread: joins the open search, if there is one, until its blocks are handed
  // out; returns at once otherwise.
  void Help();

  // Below this many candidates the caller searches alone.
  static constexpr size_t kMinParallel = 64;

 private:
  void HelperLoop();
  void Work();
  // Sets bStop_ under mutex_ and wakes every helper.
  void Stop();

  static constexpr size_t kBlock = 16;

  const std::function<void()> pfnWake_;
  std::mutex mutex_;  // guards nGeneration_, nBusy_, bStop_, bOpen_'s changes, the
                      // search's n and test
  std::condition_variable cvWork_;
  std::condition_variable cvDone_;
  unsigned long nGeneration_ = 0;
  unsigned nBusy_ = 0;  // helpers inside the current search
  bool bStop_ = false;
  std::atomic<bool> bOpen_{false};  // a search takes helpers
  size_t n_ = 0;
  const std::function<bool(size_t)>* pTest_ = nullptr;
  std::atomic<size_t> nNextBlock_{0};
  std::atomic<size_t> nFound_{0};
  std::vector<std::thread> vecHelpers_;
};

}  // namespace twintone

#endif  // TWINTONE_GROUPING_GROUP_SCAN_H
