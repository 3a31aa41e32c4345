// twintone: finds duplicate music files in the given files and folders, built on the
// library's public interface only. Exit codes are listed in options.h and --help.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "act/actions.h"
#include "act/plan.h"
#include "scan/dedupe_session.h"
#include "scan/distinct_marks.h"
#include "scan/fingerprint_cache.h"
#include "common/interrupt.h"
#include "cli/options.h"
#include "cli/preflight.h"
#include "decide/tag_confirm.h"
#include "report/review_page.h"
#include "scan/scan_record.h"
#include "report/report.h"
#include "act/undo.h"
#include "common/paths.h"
#include "common/text_escape.h"
#include "review/terminal_review.h"

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

// Undoes a journal once the run locks of the folders it names are held, so that no
// acting run changes them meanwhile.
int RunUndo(const Options& options) {
  RunLocks locks;
  int nLockExit = -1;
  auto gate = [&](const std::vector<std::string>& vecRoots) {
    nLockExit = LockRoots(options, vecRoots, &locks);
    return nLockExit < 0;
  };
  UndoOutcome outcome = UndoJournal(options.strUndo, stdout, gate);
  if (nLockExit >= 0) return nLockExit;
  if (!outcome.bRead) std::fprintf(stderr, "twintone: %s\n", outcome.strError.c_str());
  if (outcome.bInterrupted) return InterruptExitCode();
  return outcome.bRead && outcome.nProblems == 0 ? kExitOk : kExitFailure;
}

// The symbolic links the scan left out that lead to a file, so that after an action a
// link whose file went elsewhere can be named.
std::vector<std::string> LinksLeftOut(const RunReport& report) {
  std::vector<std::string> vecLinks;
  for (const SkippedFile& skipped : report.vecSkipped) {
    struct stat st;
    if (skipped.strReason == "symbolic link" && stat(skipped.strPath.c_str(), &st) == 0) {
      vecLinks.push_back(skipped.strPath);
    }
  }
  return vecLinks;
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
  const auto vecLinks = LinksLeftOut(*pReport);
  ActionResult result = RunActions(pReport->vecGroups, request, &InterruptRequested());
  pReport->vecMoves = result.vecRecords;
  // A user's own link to a duplicate that went away now leads nowhere: said, not
  // mended (undo mends it).
  for (const std::string& strLink : vecLinks) {
    struct stat st;
    if (!options.bDryRun && stat(strLink.c_str(), &st) != 0) {
      std::fprintf(stderr,
                   "twintone: the symbolic link '%s' leads nowhere now: the file it led to "
                   "was acted on (undo puts it back)\n",
                   TerminalSafe(strLink).c_str());
    }
  }
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

void Say(const std::string& strLine) { std::fprintf(stderr, "twintone: %s\n", strLine.c_str()); }

// Keeps the pairs a plan marked "not a duplicate" in the fingerprint cache, unless the
// run only shows what it would do.
void RememberMarks(const Options& options, const LoadedPlan& plan) {
  if (plan.vecDistinct.empty()) return;
  bool bKnown = true, bAlike = false;
  for (const auto& pair : plan.vecDistinct) {
    bKnown = bKnown && pair.first != 0 && pair.second != 0;
    bAlike = bAlike || (pair.first != 0 && pair.first == pair.second);
  }
  if (!bKnown || options.bNoCache) {
    Say("a copy marked not a duplicate is not remembered: that needs a fingerprint scan "
        "(-f) with the cache");
  }
  if (bAlike) {
    Say("a copy marked not a duplicate has the very fingerprint of the kept copy, so the "
        "two cannot be told apart and the mark is not remembered");
  }
  if (options.bDryRun || options.bNoCache) return;
  int nRemembered = RememberDistinct(options, plan.vecDistinct, Say);
  if (nRemembered > 0) {
    Say("remembered " + std::to_string(nRemembered) +
        (nRemembered == 1 ? " pair" : " pairs") + " marked not a duplicate");
  }
}

int Fail(const std::string& strWhy) {
  std::fprintf(stderr, "twintone: %s\n", strWhy.c_str());
  return kExitFailure;
}

// Records the scan in the cache folder, for the review page or the terminal review;
// the scan's id, or "" after saying why not.
std::string RecordScan(const Options& options, const RunReport& report) {
  std::string strId = NewScanId();
  std::string strError = "no randomness for the scan's id";
  if (strId.empty() || !SaveScanRecord(RecordOf(report, options.vecPaths, strId), &strError)) {
    Fail(strError);
    return "";
  }
  return strId;
}

// Writes the review page, which names the recorded scan strId.
bool WritePage(const Options& options, const RunReport& report, const std::string& strId) {
  if (report.IsScannedFile(options.strHtml)) {
    Fail(options.strHtml + " is one of the files scanned; no review page written");
    return false;
  }
  std::string strError;
  bool bDone = !strId.empty() &&
               WriteReviewPage(report, options.vecPaths, strId, options.strHtml, &strError);
  if (!bDone) {
    if (!strError.empty()) Fail(strError);
    return false;
  }
  // Where the page is and what comes after it, for someone who has not read --help.
  if (report.vecGroups.empty()) {
    std::fprintf(stderr, "twintone: review page written to %s; it has no duplicates to review\n",
                 TerminalSafe(AbsolutePath(options.strHtml)).c_str());
    return true;
  }
  std::fprintf(stderr,
               "twintone: review page written to %s\n"
               "twintone: open it in a browser, choose the copies to keep and press Save plan\n"
               "twintone: then run: twintone --apply twintone-plan.json --trash\n"
               "  (the plan as saved, often in ~/Downloads; or --move-duplicates DIR, or --link\n"
               "  hard, instead of --trash; add --dry-run to see it first)\n",
               TerminalSafe(AbsolutePath(options.strHtml)).c_str());
  return true;
}

// Reviews the groups in the terminal and puts the plan made there in place of the
// scan's groups, read back as --apply reads a plan. -1 to go on to the action, else
// the exit code to end with (nothing acted on).
int ReviewGroups(const Options& options, const std::string& strId, RunReport* pReport,
                 ActionRequest* pRequest) {
  if (strId.empty()) return kExitFailure;
  ReviewResult review = ReviewInTerminal(*pReport, strId, STDIN_FILENO, STDERR_FILENO);
  if (review.outcome == ReviewOutcome::kInterrupted) {
    return InterruptRequested().load() ? InterruptExitCode() : kExitInterrupted;  // or Ctrl-C
  }
  if (review.outcome == ReviewOutcome::kFailed) return Fail(review.strError);
  LoadedPlan plan;
  std::string strError;
  if (!LoadPlanText(review.strPlan, "made in the review", &plan, &strError)) return Fail(strError);
  pReport->vecGroups = plan.vecGroups;
  pRequest->mapRelative = plan.mapRelative;
  RememberMarks(options, plan);
  return -1;
}

int Run(const Options& options) {
  if (!InstallInterruptHandlers()) {
    std::fprintf(stderr, "twintone: cannot set up Ctrl-C handling\n");
    return kExitFailure;
  }
  if (!options.strUndo.empty()) return RunUndo(options);
  std::string strProblem = ArgumentsProblem(options);
  if (strProblem.empty() && options.bInteractive && !isatty(STDIN_FILENO)) {
    strProblem = "--interactive reads keys from a terminal, and standard input is not one";
  }
  if (!strProblem.empty()) {
    Fail(strProblem);
    return kExitUsage;
  }
  strProblem = OutputFilesProblem(options);
  if (!strProblem.empty()) return Fail(strProblem);

  if (options.bPruneCache) {
    auto say = [](const std::string& strLine) {
      std::fprintf(stderr, "twintone: %s\n", strLine.c_str());
    };
    if (!PruneCache(options, say, say)) return kExitFailure;
    if (options.vecPaths.empty() && !options.bForgetDistinct) return kExitOk;
  }
  if (options.bForgetDistinct) {
    int nForgotten = ForgetDistinct(options, Say);
    if (nForgotten < 0) return kExitFailure;
    Say("forgot " + std::to_string(nForgotten) + (nForgotten == 1 ? " pair" : " pairs") +
        " marked not a duplicate");
    if (options.vecPaths.empty()) return kExitOk;
  }

  // A plan acts within the roots of the scan it was made from.
  LoadedPlan plan;
  std::vector<std::string> vecRoots = options.vecPaths;
  if (!options.strApply.empty()) {
    if (!LoadPlan(options.strApply, &plan, &strProblem)) return Fail(strProblem);
    vecRoots = plan.vecRoots;
  }
  strProblem = MoveTargetProblem(options, vecRoots);
  if (!strProblem.empty()) return Fail(strProblem);
  RunLocks locks;
  int nLockExit = LockRoots(options, vecRoots, &locks);
  if (nLockExit >= 0) return nLockExit;

  RunReport report;
  SessionOutcome outcome;
  ActionRequest request;
  request.vecRoots = vecRoots;
  if (!options.strApply.empty()) {
    report = plan.scan;  // the report reads like the scan's
    report.vecGroups = plan.vecGroups;
    report.bFromPlan = true;
    request.mapRelative = plan.mapRelative;
    outcome.bStarted = true;
    RememberMarks(options, plan);
  } else {
    ScanSettings scan = options;
    scan.strSkipDir = options.strMoveDir;
    outcome = RunDedupeSession(scan, &report);
    report.strKeepPolicy = KeepPoliciesText(options.vecKeep);
    ChooseKeepers(options.vecKeep, {options.bFingerprint, options.nSeconds}, &report.vecGroups);
  }
  if (!outcome.bStarted && !outcome.bInterrupted) return kExitFailure;

  // Tags can agree on different recordings: before an action, tag groups are checked
  // by ear, and what does not sound like its kept copy is set apart, untouched.
  const bool bActing = ActionKindOf(options) != ActionKind::kNone;
  const bool bTagGroups = options.strApply.empty() ? !options.bFingerprint : !plan.scan.bFingerprint;
  bool bChecked = true;
  if (bActing && bTagGroups && !outcome.bInterrupted) {
    auto warn = [](const std::string& strLine) {
      std::fprintf(stderr, "twintone: %s\n", strLine.c_str());
    };
    // What decoding found out joins the choice: heard, a copy that stops early is
    // passed over as in a fingerprint run. A plan's choices stay, with each copy that
    // stops early marked, so that a damaged keeper costs no whole copy its place.
    std::function<void(std::vector<Group>*)> rank = [&](std::vector<Group>* pvecGroups) {
      if (options.strApply.empty()) {
        ChooseKeepers(options.vecKeep, {true, options.nSeconds}, pvecGroups);
        return;
      }
      for (Group& group : *pvecGroups) {
        for (Member& member : group.vecMembers) {
          if (member.strPassedOver.empty()) {
            member.strPassedOver = WholenessProblem(member, {true, options.nSeconds});
          }
        }
      }
    };
    bChecked = ConfirmTagGroups(options, report, warn, rank, &report.vecGroups);
    outcome.bInterrupted |= InterruptRequested().load();
  }

  // The page shows the files as the scan found them, so it is written before any action.
  int nFailedActions = 0;
  std::string strScanId;
  if (!options.strHtml.empty() || options.bInteractive) strScanId = RecordScan(options, report);
  if (!options.strHtml.empty() && !WritePage(options, report, strScanId)) ++nFailedActions;
  if (options.bInteractive && !outcome.bInterrupted) {
    int nExit = ReviewGroups(options, strScanId, &report, &request);
    if (nExit >= 0) return nExit;
  }
  if (ActionKindOf(options) != ActionKind::kNone) {
    if (outcome.bInterrupted) {
      report.bMoveRequested = true;
      report.strActionError = "stopped early";
      std::fprintf(stderr, "twintone: stopped early, so nothing was changed\n");
    } else if (!bChecked) {
      report.bMoveRequested = true;
      report.strActionError = "the tag groups could not be checked by ear";
      std::fprintf(stderr, "twintone: %s, so nothing was changed\n",
                   report.strActionError.c_str());
      ++nFailedActions;
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
