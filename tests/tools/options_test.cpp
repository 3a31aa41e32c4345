// The command line: one full command line read back, what is refused with which
// message, and the exit codes and streams a script can rely on.
#include "cli/options.h"

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "decide/keeper.h"
#include "twintone.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::ParseOutcome;

ParseOutcome Parse(std::vector<std::string> vecArgs, twintone_cli::Options* pOptions,
                   std::string* pstrError) {
  vecArgs.insert(vecArgs.begin(), "twintone");
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecArgs) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);
  return twintone_cli::ParseOptions(static_cast<int>(vecArgs.size()), vecArgv.data(), pOptions,
                                    pstrError);
}

TEST(OptionsTest, ReadsAFullCommandLineAndRefusesBadOnesWithAReason) {
  twintone_cli::Options options;
  std::string strError;
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--by=duration,album,title", "-rq", "--keep", "under=/a",
                                       "--loose", "--keep=newest", "a", "--", "-b"},
                                      &options, &strError));
  EXPECT_EQ(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM | TWINTONE_MATCH_DURATION,
            options.nMatchFlags);
  EXPECT_EQ((std::vector<std::string>{"title", "album", "duration"}), options.vecFields);
  EXPECT_TRUE(options.bRecursive && options.bQuiet && options.bLoose && !options.bFingerprint);
  EXPECT_FALSE(options.bFollowSymlinks);  // links to files are left out unless asked
  EXPECT_EQ((std::vector<std::string>{"a", "-b"}), options.vecPaths);
  EXPECT_EQ("under=/a,newest", twintone_cli::KeepPoliciesText(options.vecKeep));
  // The fingerprint numbers imply --fingerprint.
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--seconds=600", "--similarity", "1%", "x"}, &options,
                                      &strError));
  EXPECT_TRUE(options.bFingerprint && options.nSeconds == 600 && options.nSimilarity == 1);

  const std::vector<std::pair<std::vector<std::string>, std::string>> kRefused = {
      {{"--by", "title,genre", "x"}, "unknown field 'genre'"},
      {{"--seconds", "601", "x"}, "--seconds"},
      {{"--by", "title", "--fingerprint", "x"}, "cannot be combined"},
      {{"--dry-run", "x"}, "--move-duplicates"},
      {{"-z", "x"}, "unknown option '-z'"},
      {{"--rec", "x"}, "unknown option '--rec'"},  // no abbreviations
      {{"--json=1", "x"}, "option '--json' takes no value"},
      {{"x", "--seconds"}, "needs a value"},
      {{"--fingerprint"}, "no file or folder"},
      {{"--print-fingerprints", "--json", "x"}, "replaces the report"},
      {{"--keep", "best,biggest", "x"}, "unknown policy 'biggest'"},
      {{"--legacy-encoding", "no-such-charset", "x"}, "unknown encoding 'no-such-charset'"},
      {{"--trash", "--link", "hard", "x"}, "choose one of --move-duplicates, --trash"},
      {{"--exact", "--fast", "x"}, "choose one of --fast and --exact"},
      {{"--apply", "plan.json"}, "needs --move-duplicates DIR, --trash or --link"},
  };
  for (const auto& refused : kRefused) {
    EXPECT_EQ(ParseOutcome::kUsageError, Parse(refused.first, &options, &strError))
        << refused.second;
    EXPECT_NE(std::string::npos, strError.find(refused.second)) << strError;
  }
}

TEST(CliExitCodeTest, ExitCodesAndStreamsAreWhatScriptsExpect) {
  struct Case {
    std::vector<std::string> vecArgs;
    int nExit;
    std::string strInOut, strInErr;
  };
  const std::vector<Case> kCases = {
      {{"--similarity", "150", "/tmp"}, 2, "", "--similarity takes a whole percentage"},
      {{}, 2, "", ""},
      {{"--help"}, 0, "Examples:", ""},
      {{"--version"}, 0, "twintone " TWINTONE_CLI_VERSION "\n", ""},
      // Slips found before any work: one line, no report.
      {{"-q", "--json", "/tmp", "/nonexistent/tt"},
       2,
       "",
       "no such file or folder: '/nonexistent/tt'\n"},
      {{"--keep", "under=~/nonexistent-tt", "/tmp"}, 2, "", "/nonexistent-tt does not exist"},
  };
  for (const Case& c : kCases) {
    CliResult result = RunCli(c.vecArgs);
    EXPECT_EQ(c.nExit, result.nExitCode) << c.strInErr << result.strErr;
    EXPECT_NE(std::string::npos, result.strOut.find(c.strInOut)) << result.strOut;
    EXPECT_NE(std::string::npos, result.strErr.find(c.strInErr)) << result.strErr;
    EXPECT_EQ(c.nExit == 2, result.strOut.empty());  // usage errors print no report
    if (c.nExit == 1) JsonOf(result.strOut);  // a run that fails still writes a whole report
  }
}

}  // namespace
}  // namespace twintone_cli_test
