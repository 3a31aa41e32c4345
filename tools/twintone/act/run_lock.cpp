#include "act/run_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "act/mover.h"
#include "common/file_ops.h"
#include "common/interrupt.h"
#include "common/paths.h"

namespace twintone_cli {
namespace {

using LockKey = std::pair<uint64_t, uint64_t>;  // device, inode

// What one lock is taken for: exclusively for a root, else shared; and the root it
// is shown as in the waiting line.
struct LockWant {
  bool bExclusive = false;
  std::string strShownAs;
};

// Adds the lock wants of one root: itself exclusively, every folder above it shared.
void WantRoot(const std::string& strRoot, std::map<LockKey, LockWant>* pmapWants) {
  std::unique_ptr<char, decltype(&free)> pszReal(realpath(strRoot.c_str(), nullptr), &free);
  if (!pszReal) return;
  std::string strPath = pszReal.get();
  for (bool bRoot = true;; bRoot = false) {
    FileFacts facts = FactsOf(strPath, true);
    if (facts.bExists) {
      LockWant& want = (*pmapWants)[LockKey(facts.nDevice, facts.nInode)];
      if (bRoot || want.strShownAs.empty()) want.strShownAs = pszReal.get();
      want.bExclusive = want.bExclusive || bRoot;
    }
    if (strPath == "/") break;
    strPath = ParentDir(strPath);
  }
}

}  // namespace

RunLocks::~RunLocks() {
  for (int fd : m_vecFds) close(fd);
}

LockOutcome RunLocks::Take(const std::vector<std::string>& vecRoots, bool bWait,
                           const std::function<void(const std::string&)>& pfnSay,
                           std::string* pstrError) {
  std::map<LockKey, LockWant> mapWants;
  for (const std::string& strRoot : vecRoots) WantRoot(strRoot, &mapWants);
  std::string strDir = TwintoneCacheDir();
  if (strDir.empty()) {
    *pstrError = "no cache folder is known for the run locks (neither XDG_CACHE_HOME nor HOME)";
    return LockOutcome::kFailed;
  }
  strDir += "/locks";
  if (!EnsureDirectory(strDir, pstrError)) return LockOutcome::kFailed;
  for (const auto& entry : mapWants) {
    std::string strFile = strDir + "/" + std::to_string(entry.first.first) + "-" +
                          std::to_string(entry.first.second) + ".lock";
    int fd = open(strFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      *pstrError = "cannot open the run lock " + strFile + ": " + std::strerror(errno);
      return LockOutcome::kFailed;
    }
    m_vecFds.push_back(fd);
    int nMode = entry.second.bExclusive ? LOCK_EX : LOCK_SH;
    bool bSaid = false;
    while (flock(fd, nMode | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        *pstrError = "cannot take the run lock " + strFile + ": " + std::strerror(errno);
        return LockOutcome::kFailed;
      }
      if (!bWait) {
        *pstrError = "another twintone run is acting on " + entry.second.strShownAs;
        return LockOutcome::kBusy;
      }
      if (!bSaid) pfnSay("waiting for another twintone run on " + entry.second.strShownAs + "...");
      bSaid = true;
      // Polls, so that Ctrl-C is seen while waiting.
      struct pollfd wake = {InterruptFd(), POLLIN, 0};
      poll(&wake, InterruptFd() >= 0 ? 1 : 0, 100);
      if (InterruptRequested().load()) return LockOutcome::kInterrupted;
    }
  }
  return LockOutcome::kTaken;
}

}  // namespace twintone_cli
