#include "support/thread_start.h"

namespace twintone {

void StopThreads(std::vector<std::thread>* pThreads, const std::function<void()>& stop) {
  stop();
  for (std::thread& t : *pThreads) {
    if (t.joinable()) t.join();
  }
}

void StartThreads(std::vector<std::thread>* pThreads, unsigned nThreads,
                  const std::function<void()>& body, const std::function<void()>& stop) {
  try {
    for (unsigned i = 0; i < nThreads; ++i) pThreads->emplace_back(body);
  } catch (...) {
    StopThreads(pThreads, stop);
    throw;
  }
}

}  // namespace twintone
