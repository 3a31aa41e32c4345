#include "cli_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "common/file_ops.h"
#include "common/paths.h"
#include "common/plan_entry.h"
#include "scan/scan_record.h"

namespace twintone_cli_test {
namespace {

// Python's reader, made to refuse repeated keys and (through int) NaN and Infinity;
// bytes that are not UTF-8 and lone surrogates fail on the way in or out. The report
// schema named by argv[1] is checked first.
const char kFlattenJson[] = R"(
import json, sys
def pairs(items):
    if len({k for k, _ in items}) != len(items): raise ValueError('repeated key')
    return dict(items)
def walk(path, value):
    if isinstance(value, list): value = dict(enumerate(value)); emit(path + '#', len(value))
    if not isinstance(value, dict): return emit(path, value)
    for key, item in value.items(): walk(f'{path}.{key}' if path else str(key), item)
def emit(path, value):
    text = value if isinstance(value, str) else json.dumps(value)
    sys.stdout.buffer.write(f'{path}\0{text}\0'.encode())
doc = json.loads(sys.stdin.buffer.read(), object_pairs_hook=pairs, parse_constant=int)
import jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
jsonschema.Draft202012Validator(schema).validate(doc)
walk('', doc)
)";

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& vecArgs, const char* pszProgram,
                       const std::string& strStdin) {
  int fdsErr[2];
  if (pipe2(fdsErr, O_CLOEXEC) != 0) return;
  std::vector<std::string> vecAll = {pszProgram};
  vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecAll) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);
  std::string strOutPath = m_dir.Path("stdout");
  // A cache folder of the child's own, so no run reads what another left in the
  // user's cache; or the one the test shares with its children (SharedCacheHome).
  const char* pszShared = getenv("TWINTONE_TEST_CACHE_HOME");
  std::string strCacheHome =
      "XDG_CACHE_HOME=" + (pszShared != nullptr ? std::string(pszShared) : m_dir.Path("cache"));
  std::vector<char*> vecEnv;
  for (char** ppEnv = environ; *ppEnv != nullptr; ++ppEnv) {
    if (strncmp(*ppEnv, "XDG_CACHE_HOME=", 15) != 0) vecEnv.push_back(*ppEnv);
  }
  vecEnv.push_back(&strCacheHome[0]);
  vecEnv.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) {  // only async-signal-safe calls from here on
    dup2(open(strStdin.c_str(), O_RDONLY), 0);
    dup2(open(strOutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(fdsErr[1], 2);
    // The child starts with default signal handling whatever the test runner set.
    for (int nSignal : {SIGINT, SIGTERM, SIGPIPE}) signal(nSignal, SIG_DFL);
    sigset_t setEmpty;
    sigemptyset(&setEmpty);
    sigprocmask(SIG_SETMASK, &setEmpty, nullptr);
    execvpe(pszProgram, vecArgv.data(), vecEnv.data());
    _exit(127);
  }
  close(fdsErr[1]);
  m_fdErr = fdsErr[0];
}

CliProcess::~CliProcess() {
  if (m_pid > 0) kill(m_pid, SIGKILL);
  Finish();
}

bool CliProcess::ReadErr() {
  char buffer[4096];
  ssize_t nRead = 0;
  do {
    nRead = m_fdErr < 0 ? 0 : read(m_fdErr, buffer, sizeof(buffer));
  } while (nRead < 0 && errno == EINTR);
  if (nRead > 0) m_result.strErr.append(buffer, static_cast<size_t>(nRead));
  return nRead > 0;
}

bool CliProcess::WaitForErr(const std::string& strNeedle) {
  while (m_result.strErr.find(strNeedle) == std::string::npos) {
    if (!ReadErr()) return false;
  }
  return true;
}

void CliProcess::Signal(int nSignal) {
  if (m_pid > 0) kill(m_pid, nSignal);
}

CliResult CliProcess::Finish() {
  while (ReadErr()) {
  }
  if (m_fdErr >= 0) close(m_fdErr);
  m_fdErr = -1;
  int nStatus = 0;
  while (m_pid > 0 && waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
  }
  if (m_pid > 0) m_result.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  m_pid = -1;
  m_result.strOut = TempDir::ReadFile(m_dir.Path("stdout"));
  return m_result;
}

std::map<std::string, std::string> Snapshot(const std::string& strRoot) {
  std::map<std::string, std::string> mapFiles;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(strRoot)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      mapFiles[entry.path().string()] = TempDir::ReadFile(entry.path().string());
    }
  }
  return mapFiles;
}

JsonFields JsonOf(const std::string& strText) {
  TempDir dir;
  CliResult result = CliProcess({"-c", kFlattenJson, TWINTONE_CLI_SCHEMA}, "python3",
                                dir.WriteFile("doc.json", strText)).Finish();
  JsonFields fields;
  std::istringstream in(result.strOut);
  std::string strKey, strValue;
  while (std::getline(in, strKey, '\0') && std::getline(in, strValue, '\0')) {
    fields[strKey] = strValue;
  }
  if (result.nExitCode == 0) return fields;
  ADD_FAILURE() << "not a valid document: " << result.strErr << "\n" << strText;
  return {};
}

JsonFields RunJson(std::vector<std::string> vecArgs, int nExpectedExit) {
  vecArgs.insert(vecArgs.begin(), {"--json", "-q"});
  CliResult result = RunCli(vecArgs);
  EXPECT_EQ(nExpectedExit, result.nExitCode) << result.strErr;
  return JsonOf(result.strOut);
}

std::string SharedCacheHome() {
  // Lives as long as the test process and goes with it (children leave by _exit).
  static TempDir s_shared;
  setenv("XDG_CACHE_HOME", s_shared.Root().c_str(), 1);
  setenv("TWINTONE_TEST_CACHE_HOME", s_shared.Root().c_str(), 1);
  return s_shared.Root();
}

std::string PlanJson(const std::vector<std::vector<std::string>>& vecGroups,
                     const std::string& strRoot, const std::string& strRel) {
  SharedCacheHome();
  twintone_cli::ScanRecord record;
  record.strId = twintone_cli::NewScanId();
  record.vecRoots = {twintone_cli::RealPath(strRoot)};
  record.scan.bFingerprint = true;  // its groups are not heard again before an action
  twintone_cli::Json groups = twintone_cli::Json::array();
  for (const auto& vecGroup : vecGroups) {
    twintone_cli::Json members = twintone_cli::Json::array();
    for (const std::string& strPath : vecGroup) {
      twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
      record.vecFiles.push_back({twintone_cli::AbsolutePath(strPath),
                                 strRel.empty() ? strPath.substr(strRoot.size() + 1) : strRel,
                                 facts.nDevice, facts.nInode, facts.nSize, facts.nModifiedNs,
                                 static_cast<int>(&vecGroup - &vecGroups[0]),
                                 static_cast<int>(&strPath - &vecGroup[0]), {}, ""});
      members.push_back(twintone_cli::PlanEntry{record.vecFiles.back().strPath, "", "", "", "",
                                                "", &strPath == &vecGroup[0] ? "keep" : "duplicate"});
    }
    groups.push_back({{"members", members}});
  }
  std::string strError;
  EXPECT_TRUE(twintone_cli::SaveScanRecord(record, &strError)) << strError;
  return twintone_cli::Json{{"twintone_plan", 1}, {"scan_id", record.strId}, {"groups", groups}}
      .dump();
}

std::string FileName(const std::string& strPath) {
  return std::filesystem::path(strPath).filename().string();
}

std::string CopyPiece(size_t nPiece, AudioEncoding encoding, const std::string& strPath) {
  std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
  twintone_test::CopyFile(twintone_test::SharedAudioCorpus().Path(nPiece, encoding), strPath);
  return strPath;
}

}  // namespace twintone_cli_test
