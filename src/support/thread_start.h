// Starting and stopping a fixed set of helper threads that wait on a condition
// variable for a stop flag.
#ifndef TWINTONE_SUPPORT_THREAD_START_H
#define TWINTONE_SUPPORT_THREAD_START_H

#include <functional>
#include <thread>
#include <vector>

namespace twintone {

// Calls stop(), which must set the threads' stop flag under their mutex and wake
// them, then joins every thread in *pThreads.
void StopThreads(std::vector<std::thread>* pThreads, const std::function<void()>& stop);

// Starts nThreads threads running body into *pThreads. When one cannot be started,
// stops and joins those already running (StopThreads) and rethrows
// std::system_error.
void StartThreads(std::vector<std::thread>* pThreads, unsigned nThreads,
                  const std::function<void()>& body, const std::function<void()>& stop);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_THREAD_START_H
