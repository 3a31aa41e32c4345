// The command line: what is accepted, what is refused with which message, and the
// exit codes a script can rely on.
#include "options.h"

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "twintone.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::Options;
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
  Options options;
  std::string strError;
};

TEST_F(OptionsTest, DefaultsGroupByTitleAndArtist) {
  ASSERT_EQ(ParseOutcome::kRun, Parse({"music"}));
  EXPECT_EQ(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST, options.nMatchFlags);
  EXPECT_FALSE(options.bFingerprint);
  EXPECT_EQ(std::vector<std::string>{"music"}, options.vecPaths);
}

TEST_F(OptionsTest, FieldsBecomeFlagsInKeyOrder) {
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--by=duration,album,title", "-rq", "a", "--", "-b"}));
  EXPECT_EQ(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM | TWINTONE_MATCH_DURATION,
            options.nMatchFlags);
  EXPECT_EQ((std::vector<std::string>{"title", "album", "duration"}), options.vecFields);
  EXPECT_TRUE(options.bRecursive && options.bQuiet);
  EXPECT_EQ((std::vector<std::string>{"a", "-b"}), options.vecPaths);
}

TEST_F(OptionsTest, FingerprintNumbersAcceptTheirWholeRange) {
  ASSERT_EQ(ParseOutcome::kRun, Parse({"--seconds", "0", "--similarity", "100%", "x"}));
  EXPECT_TRUE(options.bFingerprint);  // implied
  EXPECT_EQ(TWINTONE_MATCH_FINGERPRINT, options.nMatchFlags);
  EXPECT_EQ(0, options.nSeconds);
  EXPECT_EQ(100, options.nSimilarity);
  ASSERT_EQ(ParseOutcome::kRun, Parse({"-f", "--seconds=600", "--similarity=1", "x"}));
  EXPECT_EQ(600, options.nSeconds);
  EXPECT_EQ(1, options.nSimilarity);
}

TEST_F(OptionsTest, RefusesWithAReasonNamingTheProblem) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> kCases = {
      {{"--by", "title,genre", "x"}, "unknown field 'genre'"},
      {{"--by", "title,title", "x"}, "given twice"},
      {{"--by", "title,", "x"}, "separated by commas"},
      {{"--seconds", "601", "x"}, "--seconds"},
      {{"--seconds", "-1", "x"}, "--seconds"},
      {{"--seconds", "12s", "x"}, "--seconds"},
      {{"--similarity", "0", "x"}, "--similarity"},
      {{"--similarity", "101", "x"}, "--similarity"},
      {{"--by", "title", "--fingerprint", "x"}, "cannot be combined"},
      {{"--json", "--csv", "x"}, "--json and --csv"},
      {{"--dry-run", "x"}, "--move-duplicates"},
      {{"--bogus", "x"}, "unknown option '--bogus'"},
      {{"-z", "x"}, "unknown option '-z'"},
      {{"--json=yes", "x"}, "takes no value"},
      {{"x", "--seconds"}, "needs a value"},
      {{"--fingerprint"}, "no file or folder"},
  };
  for (const auto& testCase : kCases) {
    EXPECT_EQ(ParseOutcome::kUsageError, Parse(testCase.first)) << testCase.second;
    EXPECT_NE(std::string::npos, strError.find(testCase.second))
        << "message '" << strError << "' lacks '" << testCase.second << "'";
  }
}

TEST_F(OptionsTest, HelpWinsOverEverythingElse) {
  EXPECT_EQ(ParseOutcome::kHelp, Parse({"--version", "--help", "--seconds", "9999"}));
  EXPECT_EQ(ParseOutcome::kVersion, Parse({"-V"}));
}

TEST(CliExitCodeTest, UsageErrorsExitWithTwoAndPrintNothingOnStandardOutput) {
  CliResult result = RunCli({"--similarity", "150", "/tmp"});
  EXPECT_EQ(2, result.nExitCode);
  EXPECT_EQ("", result.strOut);
  EXPECT_NE(std::string::npos, result.strErr.find("--similarity takes a whole percentage"));
  EXPECT_NE(std::string::npos, result.strErr.find("--help"));
  EXPECT_EQ(2, RunCli({}).nExitCode);
}

TEST(CliExitCodeTest, HelpAndVersionSucceed) {
  CliResult help = RunCli({"--help"});
  EXPECT_EQ(0, help.nExitCode);
  EXPECT_NE(std::string::npos, help.strOut.find("Examples:"));
  EXPECT_NE(std::string::npos, help.strOut.find("130"));
  CliResult version = RunCli({"--version"});
  EXPECT_EQ(0, version.nExitCode);
  EXPECT_EQ("twintone " TWINTONE_CLI_VERSION "\n", version.strOut);
}

TEST(CliExitCodeTest, MissingPathIsARuntimeFailureButTheRunStillReports) {
  CliResult result = RunCli({"-q", "--json", "/nonexistent/twintone-test-path"});
  EXPECT_EQ(1, result.nExitCode);
  EXPECT_NE(std::string::npos, result.strErr.find("cannot read '/nonexistent/twintone-test-path'"));
  JsonValue doc;
  std::string strError;
  ASSERT_TRUE(ParseJson(result.strOut, &doc, &strError)) << strError;
  EXPECT_EQ(1, doc["summary"]["files_skipped"].fValue);
}

}  // namespace
}  // namespace twintone_cli_test
