// The command line: what is accepted, what is refused with which message, and the
// exit codes a script can rely on.
#include "options.h"

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "keeper.h"
#include "twintone.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::ParseOutcome;

class OptionsTest : public ::testing::Test {
 protected:
  ParseOutcome Parse(std::vector<std::string> vecArgs) {
    vecArgs.insert(vecArgs.begin(), "twintone");
    std::vector<char*> vecArgv;
    for (std::string& strArg : vecArgs) vecArgv.push_back(&strArg[0]);
    vecArgv.push_back(nullptr);
    return twintone_cli::ParseOptions(static_cast<int>(vecArgs.size()), vecArgv.data(), &options,
                                      &strError);
  }
  twintone_cli::Options options;
  std::string strError;
};

TEST_F(OptionsTest, AcceptsFieldsInKeyOrderAndNumbersAtTheirLimits) {
  ASSERT_EQ(ParseOutcome::kRun, Parse({"music"}));
  EXPECT_EQ(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST, options.nMatchFlags);
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--by=duration,album,title", "-rq", "a", "--", "-b"}));
  EXPECT_EQ(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM | TWINTONE_MATCH_DURATION,
            options.nMatchFlags);
  EXPECT_EQ((std::vector<std::string>{"title", "album", "duration"}), options.vecFields);
  EXPECT_TRUE(options.bRecursive && options.bQuiet && !options.bFingerprint);
  EXPECT_EQ((std::vector<std::string>{"a", "-b"}), options.vecPaths);
  // The fingerprint numbers imply --fingerprint.
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--seconds", "0", "--similarity", "100%", "x"}));
  EXPECT_EQ(TWINTONE_MATCH_FINGERPRINT, options.nMatchFlags);
  EXPECT_TRUE(options.bFingerprint && options.nSeconds == 0 && options.nSimilarity == 100);
  ASSERT_EQ(ParseOutcome::kRun, Parse({"-f", "--seconds=600", "--similarity=1", "x"}));
  EXPECT_TRUE(options.nSeconds == 600 && options.nSimilarity == 1 && !options.bFast);
  // Pruning the cache needs no path; printing fingerprints implies --fingerprint.
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--prune-cache", "--cache", "c.sqlite"}));
  EXPECT_TRUE(options.bPruneCache && options.strCacheFile == "c.sqlite");
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--print-fingerprints", "x"}));
  EXPECT_TRUE(options.bPrintFingerprints && options.bFingerprint);
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--fast", "x"}));
  EXPECT_TRUE(options.bFingerprint && options.bFast);
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--keep", "under=/a,newest", "--legacy-encoding",
                                       "cp1252", "--loose", "x"}));
  ASSERT_EQ(2u, options.vecKeep.size());
  EXPECT_EQ("under=/a,newest", twintone_cli::KeepPoliciesText(options.vecKeep));
}

TEST_F(OptionsTest, RefusesWithAReasonNamingTheProblem) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> kCases = {
      {{"--by", "title,genre", "x"}, "unknown field 'genre'"},
      {{"--by", "title,title", "x"}, "given twice"},
      {{"--by", "title,", "x"}, "separated by commas"},
      {{"--seconds", "601", "x"}, "--seconds"},
      {{"--seconds", "12s", "x"}, "--seconds"},
      {{"--similarity", "0", "x"}, "--similarity"},
      {{"--similarity", "101", "x"}, "--similarity"},
      {{"--by", "title", "--fingerprint", "x"}, "cannot be combined"},
      {{"--json", "--csv", "x"}, "--json and --csv"},
      {{"--dry-run", "x"}, "--move-duplicates"},
      {{"-z", "x"}, "unknown option '-z'"},
      {{"--json=yes", "x"}, "takes no value"},
      {{"x", "--seconds"}, "needs a value"},
      {{"--fingerprint"}, "no file or folder"},
      {{"--no-cache", "--cache", "c.sqlite", "x"}, "--no-cache"},
      {{"--no-cache", "--prune-cache"}, "--no-cache"},
      {{"--print-fingerprints", "--json", "x"}, "replaces the report"},
      {{"--keep", "best,biggest", "x"}, "unknown policy 'biggest'"},
      {{"--keep", "under=", "x"}, "needs a folder"},
      {{"--keep", "", "x"}, "unknown policy ''"},
      {{"--legacy-encoding", "no-such-charset", "x"}, "unknown encoding 'no-such-charset'"},
      {{"--loose", "-f", "x"}, "cannot be combined"},
      {{"--trash", "--link", "hard", "x"}, "choose one of --move-duplicates, --trash"},
      {{"--link", "soft", "x"}, "hard or symbolic"},
      {{"--undo", "j.jsonl", "x"}, "takes no paths"},
      {{"--apply", "plan.json"}, "needs --move-duplicates DIR, --trash or --link"},
  };
  for (const auto& testCase : kCases) {
    EXPECT_EQ(ParseOutcome::kUsageError, Parse(testCase.first)) << testCase.second;
    EXPECT_NE(std::string::npos, strError.find(testCase.second)) << strError;
  }
  EXPECT_EQ(ParseOutcome::kHelp, Parse({"--version", "--help", "--seconds", "9999"}));
  EXPECT_EQ(ParseOutcome::kVersion, Parse({"-V"}));
}

TEST(CliExitCodeTest, ExitCodesAndStreamsAreWhatScriptsExpect) {
  struct Case {
    std::vector<std::string> vecArgs;
    int nExit;
    std::string strInOut, strInErr;
  };
  const std::vector<Case> kCases = {
      {{"--similarity", "150", "/tmp"}, 2, "", "--similarity takes a whole percentage"},
      {{"--bogus"}, 2, "", "--help"},
      {{}, 2, "", ""},
      {{"--help"}, 0, "Examples:", ""},
      {{"--version"}, 0, "twintone " TWINTONE_CLI_VERSION "\n", ""},
      {{"-q", "--json", "/nonexistent/tt"}, 1, "", "cannot read '/nonexistent/tt'"},
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
