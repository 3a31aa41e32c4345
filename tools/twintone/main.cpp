// twintone: finds duplicate music files in the given files and folders, built on the
// library's public interface only. Exit codes are listed in options.h and --help.
#include <cstdio>
#include <string>
#include <vector>

#include "dedupe_session.h"
#include "fingerprint_cache.h"
#include "interrupt.h"
#include "mover.h"
#include "options.h"
#include "report.h"

namespace twintone_cli {
namespace {

std::string ProgramName(const char* pszArgv0) {
  std::string strName = pszArgv0 != nullptr ? pszArgv0 : "twintone";
  size_t nSlash = strName.find_last_of('/');
  return nSlash == std::string::npos ? strName : strName.substr(nSlash + 1);
}

int Run(const Options& options) {
  if (!options.strMoveDir.empty() && !options.bDryRun) {
    std::string strError;
    if (!EnsureDirectory(options.strMoveDir, &strError)) {
      std::fprintf(stderr, "twintone: %s\n", strError.c_str());
      return kExitFailure;
    }
  }
  if (!InstallInterruptHandlers()) {
    std::fprintf(stderr, "twintone: cannot set up Ctrl-C handling\n");
    return kExitFailure;
  }

  if (options.bPruneCache) {
    auto say = [](const std::string& strLine) {
      std::fprintf(stderr, "twintone: %s\n", strLine.c_str());
    };
    if (!PruneCache(options, say, say)) return kExitFailure;
    if (options.vecPaths.empty()) return kExitOk;
  }

  RunReport report;
  SessionOutcome outcome = RunDedupeSession(options, &report);
  if (!outcome.bStarted && !outcome.bInterrupted) return kExitFailure;

  int nFailedMoves = 0;
  if (!options.strMoveDir.empty()) {
    report.bMoveRequested = true;
    report.bDryRun = options.bDryRun;
    report.strMoveDir = options.strMoveDir;
    if (outcome.bInterrupted) {
      std::fprintf(stderr, "twintone: stopped early, so nothing was moved\n");
    } else {
      // A group whose every copy looks damaged is unsure: the mover never sees it, so
      // all its copies stay.
      std::vector<Group> vecSure;
      for (const Group& group : report.vecGroups) {
        if (!group.bUnsure) vecSure.push_back(group);
      }
      report.vecMoves =
          MoveDuplicates(vecSure, options.strMoveDir, options.bDryRun, &InterruptRequested());
      for (const MoveRecord& move : report.vecMoves) {
        if (move.status != MoveStatus::kFailed) continue;
        ++nFailedMoves;
        std::fprintf(stderr, "twintone: could not move '%s': %s\n", move.strFrom.c_str(),
                     move.strError.c_str());
      }
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
    return kExitInterrupted;
  }
  return outcome.nPathErrors > 0 || nFailedMoves > 0 ? kExitFailure : kExitOk;
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
