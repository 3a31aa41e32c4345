// One acting run per library. Every file or folder a run acts within (the scanned
// roots) has a lock file in the cache folder, locks/DEV-INO.lock, keyed by the root's
// device and inode so that every spelling of it meets the same lock. An acting run
// holds each root's lock exclusively and the locks of the folders above each root
// shared, so a run on ~/Music and one on ~/Music/Rock exclude each other while runs on
// two separate folders do not. Locks are flock(2) locks: the kernel drops them when
// the process ends, however it ends. They are taken in one order (by key), so two
// runs cannot wait for each other. Runs that only report take no lock.
#ifndef TWINTONE_TOOLS_ACT_RUN_LOCK_H
#define TWINTONE_TOOLS_ACT_RUN_LOCK_H

#include <functional>
#include <string>
#include <vector>

namespace twintone_cli {

enum class LockOutcome {
  kTaken,        // every lock is held
  kBusy,         // another run holds one and bWait was false (strError names the root)
  kInterrupted,  // an interrupt arrived while waiting
  kFailed        // a lock file could not be made (strError says why)
};

// Holds the locks it took until it goes.
class RunLocks {
 public:
  RunLocks() = default;
  ~RunLocks();
  RunLocks(const RunLocks&) = delete;
  RunLocks& operator=(const RunLocks&) = delete;

  // Takes the locks for vecRoots (missing roots are passed over). With bWait, a lock
  // another run holds is waited for, after one line through pfnSay ("waiting for
  // another twintone run on ROOT..."). *pstrError is set unless kTaken.
  LockOutcome Take(const std::vector<std::string>& vecRoots, bool bWait,
                   const std::function<void(const std::string&)>& pfnSay, std::string* pstrError);

 private:
  std::vector<int> m_vecFds;
};

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_RUN_LOCK_H
