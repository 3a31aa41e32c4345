#include "act/actions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "act/action_steps.h"
#include "common/file_ops.h"
#include "common/paths.h"
#include "act/journal.h"
#include "act/mover.h"
#include "act/trash.h"

namespace twintone_cli {
namespace {

// The numbered names tried for one file before it is given up on.
constexpr int kMaxNumberedNames = 10000;
const char kNoFreeName[] = "no free name for it in the target folder";

bool SameFile(const FileFacts& a, const FileFacts& b) {
  return a.bExists && b.bExists && a.nDevice == b.nDevice && a.nInode == b.nInode;
}

// Where a folder the action needs stands: empty when it is (or can be made) a folder,
// else why not.
std::string FolderProblem(const std::string& strDir) {
  for (std::string strPath = strDir;; strPath = ParentDir(strPath)) {
    FileFacts facts = FactsOf(strPath, true);
    if (facts.bExists) return facts.bDir ? "" : strPath + " is a file, not a folder";
    if (strPath == "/" || strPath == ".") return "";
  }
}

// Empty unless a folder on the way from strTop down to strDir (strTop itself not
// counted) is a symbolic link or a file: nothing is moved through a link that could
// lead out of the folder the user named.
std::string LinkBelow(const std::string& strTop, const std::string& strDir) {
  for (size_t nPos = strTop.size() + 1; nPos <= strDir.size(); ++nPos) {
    if (nPos != strDir.size() && strDir[nPos] != '/') continue;
    std::string strPath = strDir.substr(0, nPos);
    FileFacts facts = FactsOf(strPath);
    if (!facts.bExists) return "";
    if (facts.bSymlink) return strPath + " is a symbolic link; nothing is moved through it";
    if (!facts.bDir) return strPath + " is a file, not a folder";
  }
  return "";
}

// What a dry run can foresee of the permissions an action needs: the duplicate's
// folder must let it go, and the nearest folder that exists on the way to strTarget
// must take new names. Empty when both do, else why not.
std::string PermissionProblem(const std::string& strSourceDir, const std::string& strTarget) {
  if (access(strSourceDir.c_str(), W_OK | X_OK) != 0) {
    return std::string("the source cannot be removed: ") + std::strerror(errno);
  }
  std::string strPath = strTarget;
  while (!FactsOf(strPath, true).bExists && strPath != "/" && strPath != ".") {
    strPath = ParentDir(strPath);
  }
  if (access(strPath.c_str(), W_OK | X_OK) != 0) {
    return "cannot write in " + strPath + ": " + std::strerror(errno);
  }
  return "";
}

// Empty when the kept copy is still the whole file the scan chose: the same identity
// (kept, from lstat), the same size and modification time (keptTarget, from stat: a
// link's target), and its bytes can be read. Else why its duplicates must stay.
std::string RecheckKeeper(const Member& keeper, const FileFacts& kept,
                          const FileFacts& keptTarget) {
  std::string strKept = "the kept copy " + keeper.strPath;
  if (keeper.nInode == 0) return strKept + " cannot be checked against the scan";
  if (kept.nDevice != keeper.nDevice || kept.nInode != keeper.nInode) {
    return "another file has taken the name of " + strKept;
  }
  if (keptTarget.nSize != keeper.nSizeBytes) return strKept + " changed size since the scan";
  if (keptTarget.nModifiedNs != keeper.nModifiedNs) return strKept + " was modified since the scan";
  FdGuard file(open(keeper.strPath.c_str(), O_RDONLY | O_CLOEXEC));
  char buffer[4096];
  ssize_t nRead = file.Get() < 0 ? -1 : read(file.Get(), buffer, sizeof(buffer));
  int nError = nRead < 0 ? errno : EIO;
  if (nRead < 0 || (nRead == 0 && keptTarget.nSize > 0)) {
    return strKept + " cannot be read: " + std::strerror(nError);
  }
  return "";
}

// Runs one whole action: owns the journal and the names handed out so far.
class ActionRun {
 public:
  ActionRun(const ActionRequest& request, ActionResult* pResult)
      : m_request(request), m_pResult(pResult) {}

  bool Begin() {
    if (m_request.kind == ActionKind::kMove) {
      std::string strProblem = FolderProblem(m_request.strMoveDir);
      if (!strProblem.empty()) return Refuse(strProblem);
    }
    if (m_request.bDryRun) return true;
    std::string strPath =
        m_request.strJournal.empty() ? DefaultJournalPath() : m_request.strJournal;
    std::string strError;
    if (!m_journal.Create(strPath, ActionName(m_request.kind), &strError)) return Refuse(strError);
    m_pResult->strJournal = strPath;
    for (const std::string& strRoot : m_request.vecRoots) {
      if (!Scope("root", RealPath(strRoot))) return Refuse("cannot write the journal");
    }
    if (m_request.kind == ActionKind::kMove) {
      if (!MakeDirsJournalled(&m_journal, m_request.strMoveDir, &strError)) return Refuse(strError);
      if (!Scope("target", RealPath(m_request.strMoveDir))) {
        return Refuse("cannot write the journal");
      }
    }
    return true;
  }

  // Acts on one duplicate; false once no further file may be touched.
  bool Act(const Member& dup, const Member& keeper) {
    MoveRecord record;
    record.strFrom = dup.strPath;
    std::string strWhy = RecheckDuplicate(dup, keeper);
    if (!strWhy.empty()) return Finish(&record, MoveStatus::kSkipped, strWhy);
    // A folder reached through a link below a root lies outside it: the journal names
    // it (and the kept copy's, which a link will point into) before anything in it is
    // touched.
    for (const Member* pMember : {&dup, &keeper}) {
      std::string strFolder = RealPath(ParentDir(pMember->strPath));
      if (!m_request.bDryRun && !strFolder.empty() && !InRootScope(strFolder) &&
          !Scope("root", strFolder)) {
        return Outcome(StepResult::kJournal, &record, "");
      }
    }
    switch (m_request.kind) {
      case ActionKind::kMove:
        return Move(dup, &record);
      case ActionKind::kTrash:
      case ActionKind::kLinkHard:
      case ActionKind::kLinkSymbolic:
        return TrashOrLink(dup, keeper, &record);
      case ActionKind::kNone:
        break;
    }
    return Finish(&record, MoveStatus::kFailed, "no action");
  }

  // Records what became of one file; true, so a caller may return it.
  bool Finish(MoveRecord* pRecord, MoveStatus status, const std::string& strError) {
    pRecord->status = status;
    pRecord->strError = strError;
    m_pResult->vecRecords.push_back(*pRecord);
    return true;
  }

 private:
  // Names a folder the action may touch in the journal (once each). False when the
  // journal cannot be written.
  bool Scope(const char* pszKind, const std::string& strRealPath) {
    if (strRealPath.empty() || !m_setScope.insert(std::string(pszKind) + strRealPath).second) {
      return true;
    }
    if (std::string(pszKind) == "root") m_vecRootScope.push_back(strRealPath);
    return m_journal.Write(
        JournalLine().Text("step", "scope").Text("kind", pszKind).Path("path", strRealPath));
  }

  bool InRootScope(const std::string& strRealPath) const {
    for (const std::string& strRoot : m_vecRootScope) {
      if (IsWithin(strRealPath, strRoot)) return true;
    }
    return false;
  }

  bool Refuse(const std::string& strWhy) {
    m_pResult->bRefused = true;
    m_pResult->strError = strWhy;
    return false;
  }

  bool Outcome(StepResult result, MoveRecord* pRecord, const std::string& strError) {
    if (result == StepResult::kJournal) {
      m_pResult->bJournalFailed = true;
      Finish(pRecord, MoveStatus::kFailed, "the journal cannot be written");
      return false;
    }
    if (result == StepResult::kFailed) return Finish(pRecord, MoveStatus::kFailed, strError);
    return Finish(pRecord, MoveStatus::kMoved, "");
  }

  // The first of strDir/name, strDir/name (1)... that is neither taken nor handed out;
  // empty when none of the first kMaxNumberedNames is free.
  std::string FreeName(const std::string& strDir, const std::string& strName,
                       const char* pszInfoSuffix, const std::string& strInfoDir) {
    for (int nCopy = 0; nCopy < kMaxNumberedNames; ++nCopy) {
      std::string strCandidate = NumberedName(strName, nCopy);
      std::string strPath = strDir + "/" + strCandidate;
      bool bTaken = FactsOf(strPath).bExists || m_setPlanned.count(strPath) != 0;
      if (pszInfoSuffix != nullptr) {
        bTaken = bTaken || FactsOf(strInfoDir + "/" + strCandidate + pszInfoSuffix).bExists;
      }
      if (!bTaken) {
        m_setPlanned.insert(strPath);
        return strCandidate;
      }
    }
    return "";
  }

  bool Move(const Member& dup, MoveRecord* pRecord) {
    auto itRel = m_request.mapRelative.find(dup.strPath);
    std::string strRel = itRel != m_request.mapRelative.end()
                             ? itRel->second
                             : RelativeName(dup.strPath, m_request.vecRoots);
    if (strRel.find('\0') != std::string::npos) {
      return Finish(pRecord, MoveStatus::kFailed, "its name holds a NUL byte");
    }
    std::string strDir = m_request.strMoveDir;
    if (strRel.find('/') != std::string::npos) strDir += "/" + ParentDir(strRel);
    std::string strProblem = LinkBelow(m_request.strMoveDir, strDir);
    if (strProblem.empty()) strProblem = FolderProblem(strDir);
    if (!strProblem.empty()) return Finish(pRecord, MoveStatus::kFailed, strProblem);
    std::string strName = FreeName(strDir, BaseName(strRel), nullptr, "");
    if (strName.empty()) return Finish(pRecord, MoveStatus::kFailed, kNoFreeName);
    pRecord->strTo = strDir + "/" + strName;
    if (m_request.bDryRun) {
      strProblem = PermissionProblem(ParentDir(dup.strPath), strDir);
      return Finish(pRecord, strProblem.empty() ? MoveStatus::kWouldMove : MoveStatus::kFailed,
                    strProblem);
    }
    std::string strError;
    if (!MakeDirsJournalled(&m_journal, strDir, &strError)) {
      return Finish(pRecord, MoveStatus::kFailed, strError);
    }
    return Outcome(StepMove(&m_journal, ++m_nId, dup, pRecord->strTo, &strError), pRecord,
                   strError);
  }

  bool TrashOrLink(const Member& dup, const Member& keeper, MoveRecord* pRecord) {
    bool bLink = m_request.kind != ActionKind::kTrash;
    bool bHard = m_request.kind == ActionKind::kLinkHard;
    if (bHard &&
        FactsOf(keeper.strPath, true).nDevice != FactsOf(ParentDir(dup.strPath), true).nDevice) {
      return Finish(pRecord, MoveStatus::kFailed,
                    "a hard link cannot reach across file systems (the kept copy " +
                        keeper.strPath + " is on another one)");
    }
    TrashDir trash;
    std::string strError;
    if (!FindTrash(dup.strPath, !m_request.bDryRun, &trash, &strError)) {
      return Finish(pRecord, MoveStatus::kFailed, strError);
    }
    std::string strName =
        FreeName(trash.strFiles, BaseName(dup.strPath), ".trashinfo", trash.strInfo);
    if (strName.empty()) return Finish(pRecord, MoveStatus::kFailed, kNoFreeName);
    pRecord->strTo = bLink ? keeper.strPath : trash.strFiles + "/" + strName;
    if (m_request.bDryRun) {
      std::string strProblem = PermissionProblem(ParentDir(dup.strPath), trash.strFiles);
      return Finish(pRecord, strProblem.empty() ? MoveStatus::kWouldMove : MoveStatus::kFailed,
                    strProblem);
    }
    if (!Scope("trash", RealPath(ParentDir(trash.strFiles)))) {
      return Outcome(StepResult::kJournal, pRecord, "");
    }
    StepResult result =
        bLink ? StepLink(&m_journal, ++m_nId, bHard, dup, keeper, trash, strName, &strError)
              : StepTrash(&m_journal, ++m_nId, dup, trash, strName, &strError);
    return Outcome(result, pRecord, strError);
  }

  const ActionRequest& m_request;
  ActionResult* m_pResult;
  Journal m_journal;
  int m_nId = 0;
  std::set<std::string> m_setPlanned;  // destinations handed out in this run
  std::set<std::string> m_setScope;    // kind + real path of each scope line written
  std::vector<std::string> m_vecRootScope;
};

}  // namespace

const char* ActionName(ActionKind kind) {
  switch (kind) {
    case ActionKind::kMove:
      return "move";
    case ActionKind::kTrash:
      return "trash";
    case ActionKind::kLinkHard:
      return "link-hard";
    case ActionKind::kLinkSymbolic:
      return "link-symbolic";
    case ActionKind::kNone:
      break;
  }
  return "";
}

std::string RecheckDuplicate(const Member& dup, const Member& keeper) {
  FileFacts now = FactsOf(dup.strPath);
  if (!now.bExists) return "it no longer exists";
  if (dup.nInode != 0 && (now.nDevice != dup.nDevice || now.nInode != dup.nInode)) {
    return "another file has taken its name since the scan";
  }
  // Compared to the second, whatever precision the scan recorded the time with.
  constexpr int64_t kNsPerSecond = 1000000000;
  if (dup.nModifiedNs != 0 && !now.bSymlink &&
      now.nModifiedNs / kNsPerSecond != dup.nModifiedNs / kNsPerSecond) {
    return "it was modified since the scan";
  }
  FileFacts kept = FactsOf(keeper.strPath);
  FileFacts keptTarget = FactsOf(keeper.strPath, true);
  if (!keptTarget.bExists) return "the kept copy " + keeper.strPath + " is gone";
  if (SameFile(kept, now)) return "it is the kept copy under another name";
  if (SameFile(keptTarget, now)) return "the kept copy is a link to it";
  return RecheckKeeper(keeper, kept, keptTarget);
}

ActionResult RunActions(const std::vector<Group>& vecGroups, const ActionRequest& request,
                        const std::atomic<bool>* pbStop) {
  ActionResult result;
  ActionRun run(request, &result);
  if (!run.Begin()) return result;
  for (const Group& group : vecGroups) {
    for (size_t i = 1; i < group.vecMembers.size(); ++i) {
      if (pbStop != nullptr && pbStop->load()) return result;
      if (group.bUnsure) {
        MoveRecord record;
        record.strFrom = group.vecMembers[i].strPath;
        run.Finish(&record, MoveStatus::kSkipped, "unsure which copy is good, so both stay");
        continue;
      }
      if (!run.Act(group.vecMembers[i], group.vecMembers[0])) return result;
    }
  }
  return result;
}

}  // namespace twintone_cli
