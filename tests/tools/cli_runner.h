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

// A running program (the twintone command unless pszProgram, looked up in PATH, names
// another): standard output to a file, standard error to a pipe the test reads.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& vecArgs,
                      const char* pszProgram = TWINTONE_CLI_BINARY,
                      const std::string& strStdin = "/dev/null");
  ~CliProcess();  // kills and reaps a child still running
  // Reads standard error until strNeedle has appeared; false at end of stream.
  bool WaitForErr(const std::string& strNeedle);
  void Signal(int nSignal);
  // Reads standard error to its end, then reaps the child.
  CliResult Finish();

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

// A JSON document read by a strict reader and flattened: "groups.0.members.1.path"
// holds a leaf (strings as they are, other values as JSON text), "groups#" the number
// of items in an array. A malformed document fails the current test and yields {}.
using JsonFields = std::map<std::string, std::string>;
JsonFields JsonOf(const std::string& strText);

// What makes a JSON document break the report schema (docs/report.schema.json), with
// the document; "" when it conforms.
std::string SchemaViolations(const std::string& strJson);

// CSV with CRLF records and quoted fields, one vector per record; same on faults.
using CsvRows = std::vector<std::vector<std::string>>;
CsvRows CsvOf(const std::string& strText);

// Every regular file below strRoot (links not followed) by path with its bytes, and
// those bytes without the names.
std::map<std::string, std::string> Snapshot(const std::string& strRoot);
std::multiset<std::string> Contents(const std::map<std::string, std::string>& mapFiles);

}  // namespace twintone_cli_test

#endif  // TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
