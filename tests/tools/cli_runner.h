// Running the built twintone command as a child process, as a user's shell would,
// reading its documents back strictly, and taking stock of the files in a folder.
#ifndef TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
#define TWINTONE_TESTS_TOOLS_CLI_RUNNER_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"

namespace twintone_cli_test {

using twintone_test::AudioEncoding;

struct CliResult {
  int nExitCode = -1;  // -1: killed by a signal or not started
  std::string strOut, strErr;
};

// A running program (the twintone command unless pszProgram, looked up in PATH, names
// another): standard output to a file, standard error to a pipe the test reads. The
// child gets a fingerprint cache of its own, so no run reads what another left.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& vecArgs,
                      const char* pszProgram = TWINTONE_CLI_BINARY,
                      const std::string& strStdin = "/dev/null");
  ~CliProcess();  // kills and reaps a child still running
  // Reads standard error until strNeedle has appeared; false at end of stream.
  bool WaitForErr(const std::string& strNeedle);
  void Signal(int nSignal);
  CliResult Finish();  // reads standard error to its end, then reaps the child

 private:
  bool ReadErr();  // one read from standard error; false at its end
  TempDir m_dir;
  pid_t m_pid = -1;
  int m_fdErr = -1;
  CliResult m_result;
};

inline CliResult RunCli(const std::vector<std::string>& vecArgs) {
  return CliProcess(vecArgs).Finish();
}

// A report read by a strict reader against the report schema, and flattened:
// "groups.0.members.1.path" holds a leaf (strings as they are, other values as JSON
// text), "groups#" the number of items in an array. A malformed report fails the
// current test and yields {}.
using JsonFields = std::map<std::string, std::string>;
JsonFields JsonOf(const std::string& strText);

// The command with --json -q before vecArgs, its exit code checked, its report read.
JsonFields RunJson(std::vector<std::string> vecArgs, int nExpectedExit = 0);

// A cache folder this test process shares with the commands it runs from now on
// (XDG_CACHE_HOME here, and for every CliProcess), so they meet each other's scan
// records and run locks.
std::string SharedCacheHome();

// A review plan keeping each group's first file, bound to a scan record (in the shared
// cache folder) holding each file as it is now, each group a group of the scan, below
// strRoot; a member's place below the target is its path below strRoot, or strRel.
std::string PlanJson(const std::vector<std::vector<std::string>>& vecGroups,
                     const std::string& strRoot, const std::string& strRel = "");

// Every regular file below strRoot (links not followed) by path with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& strRoot);

std::string FileName(const std::string& strPath);
// Copies a corpus piece to strPath, making its folders; returns strPath.
std::string CopyPiece(size_t nPiece, AudioEncoding encoding, const std::string& strPath);

}  // namespace twintone_cli_test

#endif  // TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
