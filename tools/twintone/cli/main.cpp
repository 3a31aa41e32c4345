// twintone: finds duplicate music files in the given files and folders, built on the
// library's public interface only. Exit codes are listed in options.h and --help.
#include <cstdio>
#include <string>
#include <vector>

#include "act/actions.h"
#include "act/plan.h"
#include "scan/dedupe_session.h"
#include "scan/fingerprint_cache.h"
#include "common/interrupt.h"
#include "cli/options.h"
#include "cli/preflight.h"
#include "report/review_page.h"
#include "report/report.h"
#include "act/undo.h"

namespace twintone_cli {
namespace {

std::string ProgramName(const char* pszArgv0) {
  std::string strName = pszArgv0 != nullptr ? pszArgv0 : "twintone";
  size_t nSlash = strName.find_last_of('/');
  return nSlash == std::string::npos ? strName : strName.substr(nSlash + 1);
}

ActionKind ActionKindOf(const Options& options) {
  if (!options.strMoveDir.empty()) return ActionKind::kMove;
  if (options.bTrash) return ActionKind::kTrash;
  if (options.strLink == "hard") return ActionKind::kLinkHard;
  if (options.strLink == "symbolic") return ActionKind::kLinkSymbolic;
  return ActionKind::kNone;
}

int RunUndo(const std::string& strJournal) {
  UndoOutcome outcome = UndoJournal(strJournal, stdout);
  if (!outcome.bRead) std::fprintf(stderr, "twintone: %s\n", outcome.strError.c_str());
  return outcome.bRead && outcome.nProblems == 0 ? kExitOk : kExitFailure;
}

// Carries out the requested action on report's groups; returns the number of files
// that failed (a refused action counts as one).
int RunRequestedAction(const Options& options, ActionRequest request, RunReport* pReport) {
  request.kind = ActionKindOf(options);
  request.strMoveDir = options.strMoveDir;
  request.bDryRun = options.bDryRun;
  request.strJournal = options.strJournal;
  pReport->bMoveRequested = true;
  pReport->bDryRun = options.bDryRun;
  pReport->strMoveDir = options.strMoveDir;
  pReport->strAction = ActionName(request.kind);
  ActionResult result = RunActions(pReport->vecGroups, request, &InterruptRequested());
  pReport->vecMoves = result.vecRecords;
  pReport->strJournal = result.strJournal;
  if (!result.strJournal.empty()) {
    std::fprintf(stderr, "twintone: journal %s (twintone --undo %s takes it back)\n",
                 result.strJournal.c_str(), result.strJournal.c_str());
  }
  if (result.bRefused) {
    std::fprintf(stderr, "twintone: %s\n", result.strError.c_str());
    pReport->strActionError = result.strError;
    return 1;
  }
  int nFailed = result.bJournalFailed ? 1 : 0;
  for (const MoveRecord& move : result.vecRecords) {
    if (move.status != MoveStatus::kFailed) continue;
    ++nFailed;
    std::fprintf(stderr, "twintone: could not act on '%s': %s\n", move.strFrom.c_str(),
                 move.strError.c_str());
  }
  return nFailed;
}

int Run(const Options& options) {
  if (!InstallInterruptHandlers()) {
    std::fprintf(stderr, "twintone: cannot set up Ctrl-C handling\n");
    return kExitFailure;
  }
  if (!options.strUndo.empty()) return RunUndo(options.strUndo);
  std::string strProblem = OutputFilesProblem(options);
  if (strProblem.empty()) strProblem = MoveTargetProblem(options, options.vecPaths);
  if (!strProblem.empty()) {
    std::fprintf(stderr, "twintone: %s\n", strProblem.c_str());
    return kExitFailure;
  }

  if (options.bPruneCache) {
    auto say = [](const std::string& strLine) {
      std::fprintf(stderr, "twintone: %s\n", strLine.c_str());
    };
    if (!PruneCache(options, say, say)) return kExitFailure;
    if (options.vecPaths.empty()) return kExitOk;
  }

  RunLocks locks;
  int nLockExit = LockRoots(options, options.vecPaths, &locks);
  if (nLockExit >= 0) return nLockExit;

  RunReport report;
  SessionOutcome outcome;
  ActionRequest request;
  request.vecRoots = options.vecPaths;
  if (!options.strApply.empty()) {
    std::string strError;
    if (!LoadPlan(options.strApply, &report, &request.mapRelative, &strError)) {
      std::fprintf(stderr, "twintone: %s\n", strError.c_str());
      return kExitFailure;
    }
    outcome.bStarted = true;
  } else {
    ScanSettings scan = options;
    scan.strSkipDir = options.strMoveDir;
    outcome = RunDedupeSession(scan, &report);
    report.strKeepPolicy = KeepPoliciesText(options.vecKeep);
    ChooseKeepers(options.vecKeep, {options.bFingerprint, options.nSeconds}, &report.vecGroups);
  }
  if (!outcome.bStarted && !outcome.bInterrupted) return kExitFailure;

  // The page shows the files as the scan found them, so it is written before any action.
  int nFailedActions = 0;
  if (!options.strHtml.empty()) {
    std::string strError;
    if (report.IsScannedFile(options.strHtml)) {
      std::fprintf(stderr, "twintone: %s is one of the files scanned; no review page written\n",
                   options.strHtml.c_str());
      ++nFailedActions;
    } else if (!WriteReviewPage(report, options.vecPaths, options.strHtml, &strError)) {
      std::fprintf(stderr, "twintone: %s\n", strError.c_str());
      ++nFailedActions;
    }
  }
  if (ActionKindOf(options) != ActionKind::kNone) {
    if (outcome.bInterrupted) {
      report.bMoveRequested = true;
      report.strActionError = "stopped early";
      std::fprintf(stderr, "twintone: stopped early, so nothing was changed\n");
    } else {
      nFailedActions += RunRequestedAction(options, request, &report);
    }
  }
  if (options.bPrintFingerprints) {
    for (const std::string& strLine : outcome.vecFingerprintLines) {
      std::fprintf(stdout, "%s\n", strLine.c_str());
    }
  } else if (options.format == OutputFormat::kJson) {
    WriteJsonReport(report, stdout);
  } else if (options.format == OutputFormat::kCsv) {
    WriteCsvReport(report, stdout);
  } else {
    WriteTextReport(report, stdout);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "twintone: writing the results failed\n");
    return kExitFailure;
  }

  if (outcome.bInterrupted || InterruptRequested().load()) {
    std::fprintf(stderr, "twintone: interrupted; the results above are partial\n");
    return InterruptExitCode();
  }
  return outcome.nPathErrors > 0 || nFailedActions > 0 ? kExitFailure : kExitOk;
}

}  // namespace
}  // namespace twintone_cli

int main(int argc, char* argv[]) {
  using namespace twintone_cli;
  std::string strProgram = ProgramName(argc > 0 ? argv[0] : nullptr);
  Options options;
  std::string strError;
  switch (ParseOptions(argc, argv, &options, &strError)) {
    case ParseOutcome::kHelp:
      std::fputs(HelpText(strProgram).c_str(), stdout);
      return kExitOk;
    case ParseOutcome::kVersion:
      std::fputs(VersionText().c_str(), stdout);
      return kExitOk;
    case ParseOutcome::kUsageError:
      std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", strProgram.c_str(),
                   strError.c_str(), strProgram.c_str());
      return kExitUsage;
    case ParseOutcome::kRun:
      break;
  }
  return Run(options);
}
