#include "act/actions.h"

#include <set>

#include "act/action_steps.h"
#include "act/checks.h"
#include "common/file_ops.h"
#include "common/paths.h"
#include "act/journal.h"
#include "act/mover.h"
#include "act/run_lock.h"
#include "act/trash.h"

namespace twintone_cli {
namespace {

// The numbered names tried for one file before it is given up on.
constexpr int kMaxNumberedNames = 10000;
const char kNoFreeName[] = "no free name for it in the target folder";

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
      m_vecRoots.push_back(RealPath(strRoot));
      if (!Scope("root", m_vecRoots.back())) return Refuse("cannot write the journal");
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
    // A folder reached through a link below a root lies outside it: each file in it is
    // locked like a root given by name, without waiting (another run may be acting on
    // it), and the journal names the folder (and the kept copy's, which a link will
    // point into) before anything in it is touched.
    for (const Member* pMember : {&dup, &keeper}) {
      std::string strFolder = RealPath(ParentDir(pMember->strPath));
      if (m_request.bDryRun || strFolder.empty() || IsBelowAny(strFolder, m_vecRoots)) {
        continue;
      }
      strWhy = LockOutside(strFolder + "/" + BaseName(pMember->strPath));
      if (!strWhy.empty()) return Finish(&record, MoveStatus::kSkipped, strWhy);
      if (!InRootScope(strFolder) && !Scope("root", strFolder)) {
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
    JournalStep scope;
    scope.strStep = "scope";
    scope.strKind = pszKind;
    scope.strPath = strRealPath;
    return m_journal.Write(scope);
  }

  static bool IsBelowAny(const std::string& strRealPath,
                         const std::vector<std::string>& vecDirs) {
    for (const std::string& strDir : vecDirs) {
      if (IsWithin(strRealPath, strDir)) return true;
    }
    return false;
  }

  // Locks strFile, a file outside the command line's folders, as a root of this run
  // (the run already holds a file it was given by name); "" once held, else why it
  // stays.
  std::string LockOutside(const std::string& strFile) {
    std::string strError;
    if (IsBelowAny(strFile, m_vecRoots) ||
        m_locks.Take({strFile}, false, [](const std::string&) {}, &strError) ==
            LockOutcome::kTaken) {
      return "";
    }
    return strFile + ", reached through a link, cannot be locked: " + strError;
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
  std::vector<std::string> m_vecRoots;  // the real paths of the command line's paths
  RunLocks m_locks;  // files outside them that were acted on, and their folders
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

ActionResult RunActions(const std::vector<Group>& vecGroups, const ActionRequest& request,
                        const std::atomic<bool>* pbStop) {
  ActionResult result;
  ActionRun run(request, &result);
  if (!run.Begin()) return result;
  for (const Group& group : vecGroups) {
    for (size_t i = 1; i < group.vecMembers.size(); ++i) {
      if (pbStop != nullptr && pbStop->load()) return result;
      if (group.vecMembers[i].bLeftAlone) continue;  // a plan's choice: not even a record
      // A keeper that looks damaged (a plan or the terminal review may choose one) never
      // costs a whole copy its place.
      const std::string& strKeeperProblem = group.vecMembers[0].strPassedOver;
      std::string strStays;
      if (group.bUnsure) {
        strStays = "unsure which copy is good, so both stay";
      } else if (!strKeeperProblem.empty() && group.vecMembers[i].strPassedOver.empty()) {
        strStays = "the copy kept looks damaged (" + strKeeperProblem + "), so this whole one stays";
      }
      if (!strStays.empty()) {
        MoveRecord record;
        record.strFrom = group.vecMembers[i].strPath;
        run.Finish(&record, MoveStatus::kSkipped, strStays);
        continue;
      }
      if (!run.Act(group.vecMembers[i], group.vecMembers[0])) return result;
    }
  }
  return result;
}

}  // namespace twintone_cli
