// What the whole-run benchmarks share: wall and CPU clocks, the peak resident size,
// and a quiet stdout while the library lists folders.
#ifndef TWINTONE_BENCH_BENCH_RUN_H
#define TWINTONE_BENCH_BENCH_RUN_H

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace bench_run {

inline double Seconds(const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; }

// Wall and CPU time of this process and its reaped children, at one moment.
struct Clock {
  std::chrono::steady_clock::time_point tWall;
  double fCpu;
  static Clock Now() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return {std::chrono::steady_clock::now(), Seconds(self.ru_utime) + Seconds(self.ru_stime) +
                                                  Seconds(children.ru_utime) +
                                                  Seconds(children.ru_stime)};
  }
};

struct Timing {
  double fWall = 0, fCpu = 0;
};

inline Timing Since(const Clock& start) {
  Clock end = Clock::Now();
  return {std::chrono::duration<double>(end.tWall - start.tWall).count(), end.fCpu - start.fCpu};
}

// The process's peak resident size so far, in KiB.
inline long PeakKiB() {
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  return self.ru_maxrss;
}

// Sends stdout to /dev/null while alive: intake prints a "load[...]" line per file.
class QuietStdout {
 public:
  QuietStdout() {
    fflush(stdout);
    nSaved_ = dup(STDOUT_FILENO);
    int nNull = open("/dev/null", O_WRONLY);
    if (nSaved_ < 0 || nNull < 0) {
      fprintf(stderr, "cannot redirect stdout\n");
      exit(1);
    }
    dup2(nNull, STDOUT_FILENO);
    close(nNull);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(nSaved_, STDOUT_FILENO);
    close(nSaved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int nSaved_ = -1;
};

}  // namespace bench_run

#endif  // TWINTONE_BENCH_BENCH_RUN_H
