// Slips on the command line that once cost a file: an output named after a scanned or
// foreign file, a move target that is the library itself, cannot be made, or leads
// out through a link.
// Each is refused or passed over with a reason, and every file stays byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

namespace fs = std::filesystem;

TEST(RefusalsTest, NoFileIsWrittenOverOrMovedOutThatTwintoneDidNotMake) {
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
  std::string strLib = dir.MakeDir("lib");
  std::string strKeep = CopyPiece(0, AudioEncoding::kFlac, strLib + "/a/keep.flac");
  CopyPiece(0, AudioEncoding::kMp3At128, strLib + "/a/dup.mp3");
  std::string strNotes = dir.WriteFile("notes.html", "<p>my notes</p>");
  std::string strOld = dir.WriteFile("old.jsonl", "{}\n");
  dir.MakeDir("out"), dir.MakeDir("dups/a");
  fs::create_directory_symlink(dir.Path("out"), dir.Path("dups/a/b"));
  CopyPiece(0, AudioEncoding::kOggVorbis, strLib + "/a/b/dup.ogg");
  auto before = Snapshot(dir.Root());

  struct Case {
    std::vector<std::string> vecArgs;
    int nExit;
    const char* pszSays;
  };
  const std::vector<Case> kCases = {
      {{"--html", strKeep, "--trash"}, 1, "is not a review page twintone wrote"},
      {{"--html", strNotes, "--trash"}, 1, "is not a review page twintone wrote"},
      {{"--journal", strOld, "--trash"}, 1, "--journal takes the name of a new file"},
      {{"--move-duplicates", strLib}, 1, "a folder being scanned"},
      // A target or journal that cannot be made is found before the scan.
      {{"--move-duplicates", strNotes + "/dups"}, 1, "is a file, not a folder"},
      {{"--journal", strNotes + "/j.jsonl", "--trash"}, 1, "cannot write the journal"},
      {{"--move-duplicates", "/proc/twintone-dups"}, 1, "cannot create /proc/twintone-dups"},
      // The link below the target would lead the Ogg copy out to dir/out.
      {{"--move-duplicates", dir.Path("dups")},
       1,
       "is a symbolic link; nothing is moved through it"},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> vecArgs = {"-q", "-r", "--json"};
    vecArgs.insert(vecArgs.end(), c.vecArgs.begin(), c.vecArgs.end());
    vecArgs.push_back(strLib);
    CliResult result = RunCli(vecArgs);
    SCOPED_TRACE(c.vecArgs[0] + " " + c.vecArgs[1]);
    EXPECT_EQ(c.nExit, result.nExitCode) << result.strErr;
    EXPECT_NE(std::string::npos, result.strErr.find(c.pszSays)) << result.strErr;
    if (c.vecArgs[1].compare(0, strNotes.size() + 1, strNotes + "/") == 0) {
      EXPECT_EQ("", result.strOut);
    }
    if (c.vecArgs[0] == "--move-duplicates") {
      // The duplicate whose way is safe moved; put it back to compare the rest.
      for (const auto& entry : fs::recursive_directory_iterator(dir.Path("dups"))) {
        if (entry.is_regular_file()) fs::rename(entry.path(), strLib + "/a/dup.mp3");
      }
    }
    EXPECT_EQ(before, Snapshot(dir.Root()));
  }
}

}  // namespace
}  // namespace twintone_cli_test
