// What a run checks before it does any work, so that a slip on the command line costs
// nothing: the files it would write, the move target, and the run locks of the
// library it would act on.
#ifndef TWINTONE_TOOLS_CLI_PREFLIGHT_H
#define TWINTONE_TOOLS_CLI_PREFLIGHT_H

#include <string>
#include <vector>

#include "act/run_lock.h"
#include "cli/options.h"

namespace twintone_cli {

// Empty when every file or folder named on the command line exists and every --keep
// under=DIR (a leading ~ expanded) is a folder; else one line saying which does not,
// and the run ends with kExitUsage before any work.
std::string ArgumentsProblem(const Options& options);

// Empty when every file the run would write (--html, --journal) is new or one that
// twintone wrote (a review page: its marker), and could be written: the folder it goes
// in, or the nearest one on the way that exists, takes new names. An acting run's
// move target and its default journal folder are held to the same. Else why the run
// must not start. The fingerprint cache is checked where it is opened
// (scan/fingerprint_cache.h).
std::string OutputFilesProblem(const Options& options);

// Empty when the move target (if any) is not itself one of vecRoots; a target below
// a root is left out of the scan instead.
std::string MoveTargetProblem(const Options& options, const std::vector<std::string>& vecRoots);

// Whether the run changes files (an action that is not a dry run, or an undo), and so
// must hold the run locks of its roots.
bool Acts(const Options& options);

// Takes the run locks of vecRoots for an acting run, saying on standard error that it
// waits. The exit code to end with when they were not taken, else -1.
int LockRoots(const Options& options, const std::vector<std::string>& vecRoots, RunLocks* pLocks);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_CLI_PREFLIGHT_H
