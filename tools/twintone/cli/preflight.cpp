#include "cli/preflight.h"

#include <cstdio>

#include "common/file_ops.h"
#include "common/interrupt.h"
#include "report/review_page.h"

namespace twintone_cli {

std::string OutputFilesProblem(const Options& options) {
  if (!options.strHtml.empty() && FactsOf(options.strHtml).bExists &&
      !IsReviewPage(options.strHtml)) {
    return options.strHtml +
           " exists and is not a review page twintone wrote; name a new file for --html";
  }
  if (!options.strJournal.empty() && FactsOf(options.strJournal).bExists) {
    return options.strJournal + " exists; --journal takes the name of a new file";
  }
  return "";
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
