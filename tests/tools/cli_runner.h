// Running the built twintone command as a child process, as a user's shell would,
// and reading JSON and CSV documents back.
#ifndef TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
#define TWINTONE_TESTS_TOOLS_CLI_RUNNER_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace twintone_cli_test {

struct CliResult {
  int nExitCode = -1;  // -1: killed by a signal or not started
  std::string strOut;
  std::string strErr;
};

// Runs the command with vecArgs (without argv[0]), standard input from /dev/null,
// and collects both output streams until it exits.
CliResult RunCli(const std::vector<std::string>& vecArgs);

// A running command whose output the test reads piece by piece.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& vecArgs);
  ~CliProcess();  // kills and reaps the child if it still runs
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads standard error until strNeedle has appeared; false at end of stream.
  bool WaitForErr(const std::string& strNeedle);
  void Signal(int nSignal);
  // Reads both streams to their end and reaps the child.
  CliResult Finish();

 private:
  bool Pump(int nTimeoutMs);  // one round of reading; false once both streams ended
  pid_t m_pid = -1;
  int m_fdOut = -1;
  int m_fdErr = -1;
  CliResult m_result;
};

// A parsed JSON value; only what the tests need.
struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool bValue = false;
  double fValue = 0.0;
  std::string strValue;
  std::vector<JsonValue> vecItems;
  std::map<std::string, JsonValue> mapMembers;

  const JsonValue& operator[](const std::string& strKey) const;  // null when absent
  bool Has(const std::string& strKey) const { return mapMembers.count(strKey) != 0; }
};

// Strict parse of one whole document (RFC 8259); false with *pstrError on any fault.
bool ParseJson(const std::string& strText, JsonValue* pValue, std::string* pstrError);

// Parses RFC 4180 CSV (CRLF records, quoted fields) into rows; false with the reason
// when a quote is left open or a record does not end in CRLF.
bool ParseCsv(const std::string& strText, std::vector<std::vector<std::string>>* pvecRows,
              std::string* pstrError);

}  // namespace twintone_cli_test

#endif  // TWINTONE_TESTS_TOOLS_CLI_RUNNER_H
