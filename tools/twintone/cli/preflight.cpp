#include "cli/preflight.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "act/checks.h"
#include "common/file_ops.h"
#include "common/interrupt.h"
#include "common/paths.h"
#include "report/review_page.h"

namespace twintone_cli {
namespace {

// Empty when strDir is a folder that takes new names, or could be made as one; else
// why strWhat cannot be written there.
std::string WriteProblem(const std::string& strDir, const std::string& strWhat) {
  std::string strProblem = FolderProblem(strDir);
  if (!strProblem.empty()) return "cannot write " + strWhat + ": " + strProblem;
  std::string strPath = strDir, strFirstMissing;
  while (!FactsOf(strPath, true).bExists && strPath != "/" && strPath != ".") {
    strFirstMissing = strPath;
    strPath = ParentDir(strPath);
  }
  if (access(strPath.c_str(), W_OK | X_OK) != 0) {
    return "cannot write " + strWhat + ": " + strPath + ": " + std::strerror(errno);
  }
  // Root passes every permission check, and some file systems make no folders at all
  // (/proc): a folder of this run's own name is made where the first missing one would
  // go, and taken away again at once. Its own name, so that a second run making the
  // same folders meanwhile is never disturbed.
  if (!strFirstMissing.empty()) {
    std::string strProbe = strPath + "/.twintone-probe-" + std::to_string(getpid());
    if (mkdir(strProbe.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot write " + strWhat + ": cannot create " + strFirstMissing + ": " +
             std::strerror(errno);
    }
    rmdir(strProbe.c_str());
  }
  return "";
}

}  // namespace

std::string ArgumentsProblem(const Options& options) {
  for (const std::string& strPath : options.vecPaths) {
    struct stat st;
    if (lstat(strPath.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      return "no such file or folder: '" + strPath + "'";
    }
  }
  for (const KeepPolicy& policy : options.vecKeep) {
    if (policy.rule != KeepRule::kUnder) continue;
    std::string strDir = ExpandHome(policy.strDir);
    if (!FactsOf(strDir, true).bDir) {
      return "--keep under=" + policy.strDir + ": " + strDir +
             (FactsOf(strDir, true).bExists ? " is not a folder" : " does not exist");
    }
  }
  return "";
}

std::string OutputFilesProblem(const Options& options) {
  if (!options.strHtml.empty() && FactsOf(options.strHtml).bExists &&
      !IsReviewPage(options.strHtml)) {
    return options.strHtml +
           " exists and is not a review page twintone wrote; name a new file for --html";
  }
  if (!options.strJournal.empty() && FactsOf(options.strJournal).bExists) {
    return options.strJournal + " exists; --journal takes the name of a new file";
  }
  std::string strProblem;
  if (!options.strHtml.empty()) strProblem = WriteProblem(ParentDir(options.strHtml), "the page");
  if (strProblem.empty() && Acts(options) && options.strUndo.empty()) {
    // Where DefaultJournalPath puts it when no --journal is given.
    std::string strCache = TwintoneCacheDir();
    if (strCache.empty()) strCache = "./.cache/twintone";
    std::string strJournalDir =
        options.strJournal.empty() ? strCache + "/journals" : ParentDir(options.strJournal);
    strProblem = WriteProblem(strJournalDir, "the journal");
    if (strProblem.empty() && !options.strMoveDir.empty()) {
      strProblem = WriteProblem(options.strMoveDir, "into the move target");
    }
  }
  return strProblem;
}

std::string MoveTargetProblem(const Options& options, const std::vector<std::string>& vecRoots) {
  if (options.strMoveDir.empty()) return "";
  FileFacts target = FactsOf(options.strMoveDir, true);
  if (!target.bExists) return "";
  for (const std::string& strRoot : vecRoots) {
    FileFacts root = FactsOf(strRoot, true);
    if (root.bExists && root.nDevice == target.nDevice && root.nInode == target.nInode) {
      return "the move target " + options.strMoveDir + " is " + strRoot +
             ", a folder being scanned; name a folder outside it";
    }
  }
  return "";
}

bool Acts(const Options& options) {
  bool bAction = !options.strMoveDir.empty() || options.bTrash || !options.strLink.empty();
  return (bAction && !options.bDryRun) || !options.strUndo.empty();
}

int LockRoots(const Options& options, const std::vector<std::string>& vecRoots, RunLocks* pLocks) {
  if (!Acts(options)) return -1;
  std::string strError;
  auto say = [](const std::string& strLine) {
    std::fprintf(stderr, "twintone: %s\n", strLine.c_str());
  };
  switch (pLocks->Take(vecRoots, !options.bNoWait, say, &strError)) {
    case LockOutcome::kTaken:
      return -1;
    case LockOutcome::kInterrupted:
      return InterruptExitCode();
    case LockOutcome::kBusy:
      say(strError + "; not waiting (--no-wait), nothing was done");
      return kExitFailure;
    case LockOutcome::kFailed:
      say(strError);
      return kExitFailure;
  }
  return kExitFailure;
}

}  // namespace twintone_cli
