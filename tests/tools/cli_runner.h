// Running the built twintone command as a child process, as a user's shell would,
// reading its JSON and CSV documents back, and taking stock of the files in a folder.
#ifndef TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
#define TWINTONE_TESTS_TOOLS_CLI_RUNNER_H

#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixtures/temp_dir.h"

namespace twintone_cli_test {

struct CliResult {
  int nExitCode = -1;  // -1: killed by a signal or not started
  std::string strOut;
  std::string strErr;
};

// A running program, the twintone command unless told otherwise (then looked up in
// PATH); vecArgs leaves out argv[0]. Standard output goes to a file, standard error
// to a pipe the test reads.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& vecArgs,
                      const char* pszProgram = TWINTONE_CLI_BINARY,
                      const std::string& strStdin = "/dev/null");
  ~CliProcess();  // kills and reaps the child if it still runs
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads standard error until strNeedle has appeared; false at end of stream.
  bool WaitForErr(const std::string& strNeedle);
  void Signal(int nSignal);
  // Reads standard error to its end, reaps the child and collects standard output.
  CliResult Finish();

 private:
  bool ReadErr();  // one read from standard error; false at its end
  TempDir m_dir;  // holds the standard output file
  pid_t m_pid = -1;
  int m_fdErr = -1;
  CliResult m_result;
};

inline CliResult RunCli(const std::vector<std::string>& vecArgs) {
  return CliProcess(vecArgs).Finish();
}

// A JSON document read by a strict reader and flattened: "groups.0.members.1.path"
// holds a leaf (strings as they are, other values as JSON text), "groups#" the number
// of items in an array. A malformed document fails the current test and yields {}.
using JsonFields = std::map<std::string, std::string>;
JsonFields JsonOf(const std::string& strText);

// CSV with CRLF records and quoted fields, one vector per record; a bare CR, LF or
// quote, or an unclosed last record, fails the current test and yields {}.
using CsvRows = std::vector<std::vector<std::string>>;
CsvRows CsvOf(const std::string& strText);

// Every regular file below strRoot by path, with its bytes; links are not followed.
std::map<std::string, std::string> Snapshot(const std::string& strRoot);
// The bytes of those files, without their names.
std::multiset<std::string> Contents(const std::map<std::string, std::string>& mapFiles);

}  // namespace twintone_cli_test

#endif  // TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
