// Journals and plans handed back to the command. Forged ones change no file they cannot
// vouch for; an old journal undone again never takes a later run's copy; undo removes
// only its own trash record; and both work from any folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "act/actions.h"
#include "act/undo.h"
#include "cli_runner.h"
#include "common/file_ops.h"
#include "common/json_io.h"
#include "common/text_escape.h"

namespace twintone_cli_test {
namespace {

namespace fs = std::filesystem;
using twintone_cli::HexBytes;

class JournalPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    SharedCacheHome();
    strKeep = CopyPiece(0, AudioEncoding::kFlac, dir.Path("lib/a/keep.flac"));
    strDup = CopyPiece(0, AudioEncoding::kMp3At128, dir.Path("lib/a/dup.mp3"));
    strOther = CopyPiece(1, AudioEncoding::kOggVorbis, dir.Path("lib/b/other.ogg"));
    strNotes = dir.WriteFile("lib/notes.txt", "my notes");
    strRecord = dir.WriteFile("lib/old.trashinfo", "[Trash Info]\nPath=/elsewhere\n");
  }

  static twintone_cli::UndoOutcome Undo(const std::string& strJournal) {
    FILE* pSink = std::fopen("/dev/null", "w");
    twintone_cli::UndoOutcome outcome = twintone_cli::UndoJournal(strJournal, pSink);
    std::fclose(pSink);
    return outcome;
  }

  // An intent line: op, paths by key, and the identity and size of strIdentityOf.
  static std::string Intent(int nId, const std::string& strOp,
                            const std::vector<std::pair<std::string, std::string>>& vecPaths,
                            const std::string& strIdentityOf, const std::string& strMore = "") {
    twintone_cli::FileFacts facts = twintone_cli::FactsOf(strIdentityOf);
    std::string strLine = "{\"step\": \"intent\", \"id\": " + std::to_string(nId) +
                          ", \"op\": \"" + strOp + "\"";
    for (const auto& path : vecPaths) {
      strLine += ", \"" + path.first + "_hex\": \"" + HexBytes(path.second) + "\"";
    }
    return strLine + ", \"dev\": " + std::to_string(facts.nDevice) +
           ", \"ino\": " + std::to_string(facts.nInode) +
           ", \"size\": " + std::to_string(facts.nSize) + strMore + "}\n";
  }

  static std::string HashOf(const std::string& strPath) {
    uint64_t nHash = 0;
    twintone_cli::HashFile(strPath, &nHash);
    return twintone_cli::HashText(nHash);
  }

  // A plan in the scan strScanId, one group, each file with its role.
  static std::string Plan(const std::string& strScanId,
                          const std::vector<std::pair<std::string, const char*>>& vecMembers) {
    std::string strJson = "{\"twintone_plan\": 1, \"scan_id\": \"" + strScanId +
                          "\", \"groups\": [{\"members\": [";
    for (const auto& member : vecMembers) {
      strJson += std::string(&member == &vecMembers[0] ? "" : ", ") + "{\"path_hex\": \"" +
                 HexBytes(member.first) + "\", \"role\": \"" + member.second + "\"}";
    }
    return strJson + "]}]}";
  }

  static std::string ScanIdOf(const std::string& strPlan) {
    return twintone_cli::Json::parse(strPlan).value("scan_id", "");
  }

  TempDir dir;
  std::string strKeep, strDup, strOther, strNotes, strRecord;
};

TEST_F(JournalPlanTest, AForgedJournalTouchesNothingItCannotVouchFor) {
  dir.MakeDir("dups");
  std::string strMine = dir.WriteFile("dups/mine.mp3", "a file the user put there");
  std::string strLinkToMine = dir.MakeDir("lib/c") + "/mine.mp3";
  fs::create_symlink(strMine, strLinkToMine);
  const std::string kV1 = "{\"journal\": \"twintone\", \"version\": 1, \"stamp\": \"x\"}\n";
  const std::string kV2 =
      "{\"journal\": \"twintone\", \"version\": 2, \"stamp\": \"x\"}\n"
      "{\"step\": \"scope\", \"kind\": \"root\", \"path_hex\": \"" +
      HexBytes(dir.Path("lib")) +
      "\"}\n{\"step\": \"scope\", \"kind\": \"target\", \"path_hex\": \"" +
      HexBytes(dir.Path("dups")) + "\"}\n";
  const std::vector<std::pair<const char*, std::string>> kJournals = {
      // "The copy" is the kept file, vouched for by its identity and a hash of "0".
      {"copy with a made-up hash",
       kV1 + Intent(1, "copy", {{"from", strDup}, {"to", strKeep}}, strDup) +
           "{\"step\": \"copied\", \"id\": 1, \"hash\": \"0\", \"tdev\": " +
           std::to_string(twintone_cli::FactsOf(strKeep).nDevice) +
           ", \"tino\": " + std::to_string(twintone_cli::FactsOf(strKeep).nInode) + "}\n"},
      {"rename out of the move target",
       kV2 + Intent(1, "rename", {{"from", dir.Path("lib/c/new.flac")}, {"to", strKeep}}, strKeep,
                    ", \"hash\": \"" + HashOf(strKeep) + "\"")},
      {"rename of a file that is not the one moved",
       kV2 + Intent(1, "rename", {{"from", dir.Path("lib/c/new.flac")}, {"to", strMine}},
                    strMine, ", \"hash\": \"0123456789abcdef\"")},
      // The hash is the one of the file at "to": a forger can compute any file's hash.
      {"copy whose old place holds other bytes",
       kV2 + Intent(1, "copy", {{"from", strOther}, {"to", strMine},
                                {"temp", dir.Path("dups/.twintone-partial-x-1")}}, strOther) +
           "{\"step\": \"copied\", \"id\": 1, \"hash\": \"" + HashOf(strMine) + "\"}\n"},
      {"copy whose old place is a link to the copy",
       kV2 + Intent(1, "copy", {{"from", strLinkToMine}, {"to", strMine},
                                {"temp", dir.Path("dups/.twintone-partial-x-1")}}, strMine) +
           "{\"step\": \"copied\", \"id\": 1, \"hash\": \"" + HashOf(strMine) + "\"}\n"},
      {"trash onto itself",
       kV1 + Intent(1, "trash", {{"from", strKeep}, {"to", strKeep}, {"info", strRecord}}, strKeep)},
      {"hard link whose kept copy is its own old place",
       kV1 + Intent(1, "link", {{"from", strKeep}, {"keeper", strKeep}, {"to", strNotes},
                                {"info", strRecord}}, strNotes, ", \"link\": \"hard\"")},
      {"unknown step",
       kV1 + Intent(1, "delete", {{"from", strNotes}, {"to", "/none"}, {"info", strRecord}},
                    strNotes)},
      {"trash without a scope",
       kV2 + Intent(1, "trash", {{"from", dir.Path("lib/c/x.txt")}, {"to", strNotes},
                                 {"info", strRecord}}, strNotes,
                    ", \"hash\": \"" + HashOf(strNotes) + "\", \"info_hash\": \"" +
                        HashOf(strRecord) + "\"")},
  };
  auto before = Snapshot(dir.Path("lib")), beforeDups = Snapshot(dir.Path("dups"));
  for (const auto& journal : kJournals) {
    SCOPED_TRACE(journal.first);
    twintone_cli::UndoOutcome outcome = Undo(dir.WriteFile("forged.jsonl", journal.second));
    EXPECT_TRUE(outcome.bRead) << outcome.strError;
    EXPECT_EQ(0, outcome.nRestored);
    EXPECT_EQ(before, Snapshot(dir.Path("lib")));
    EXPECT_EQ(beforeDups, Snapshot(dir.Path("dups")));
  }
}

// Moved across file systems and undone, then a second run moves another piece to the
// same name, whose copy may get the same inode: undoing the first journal again must
// leave that copy alone. The library and journals on a tmpfs, the target on the disk,
// whose freed inodes come back first (a file kept in the target keeps its folders), 20
// times.
TEST_F(JournalPlanTest, UndoingAnOldJournalAgainLeavesALaterRunsCopy) {
  std::string strNear = dir.MakeDir("near");
  if (geteuid() != 0 || std::system(("mount -t tmpfs tmpfs " + strNear).c_str()) != 0) {
    GTEST_SKIP() << "cannot mount";
  }
  dir.MakeDir("dups/a"), dir.WriteFile("dups/a/mine.txt", "keeps the folders");
  for (int nTry = 0; nTry < 20 && !HasFailure(); ++nTry) {
    std::vector<std::string> vecJournals;
    for (size_t nPiece : {0, 1}) {
      std::string strLib = strNear + "/lib" + std::to_string(nPiece);
      twintone_cli::Group group;
      for (AudioEncoding enc : {AudioEncoding::kFlac, AudioEncoding::kOggVorbis}) {
        std::string strPath = CopyPiece(nPiece, enc, strLib + "/a/" +
                                        (enc == AudioEncoding::kFlac ? "keep.flac" : "x.ogg"));
        twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
        twintone_cli::Member member;
        member.strPath = strPath, member.nDevice = facts.nDevice, member.nInode = facts.nInode;
        member.nSizeBytes = facts.nSize, member.nModifiedNs = facts.nModifiedNs;
        group.vecMembers.push_back(member);
      }
      twintone_cli::ActionRequest request;
      request.kind = twintone_cli::ActionKind::kMove;
      request.strMoveDir = dir.Path("dups");
      request.vecRoots = {strLib};
      request.strJournal = strNear + "/j" + std::to_string(nTry) + "-" + std::to_string(nPiece);
      auto result = twintone_cli::RunActions({group}, request, nullptr);
      ASSERT_EQ(twintone_cli::MoveStatus::kMoved, result.vecRecords.at(0).status);
      vecJournals.push_back(request.strJournal);
      if (nPiece == 0) {
        EXPECT_EQ(1, Undo(vecJournals[0]).nRestored);
      }
    }
    std::string strLater = dir.Path("dups/a/x.ogg");
    auto later = TempDir::ReadFile(strLater);
    EXPECT_EQ(0, Undo(vecJournals[0]).nProblems);
    EXPECT_EQ(later, TempDir::ReadFile(strLater)) << "try " << nTry;
    EXPECT_EQ(1, Undo(vecJournals[1]).nRestored);
    fs::remove_all(strNear + "/lib0"), fs::remove_all(strNear + "/lib1");
  }
  std::system(("umount -l " + strNear).c_str());
}

TEST_F(JournalPlanTest, UndoLeavesATrashRecordItDidNotWrite) {
  CliResult result = RunCli({"-q", "--trash", "--journal", dir.Path("j.jsonl"), dir.Path("lib/a")});
  ASSERT_EQ(0, result.nExitCode) << result.strErr;
  std::string strInfo = dir.Path("data/Trash/info/dup.mp3.trashinfo");
  ASSERT_TRUE(fs::exists(strInfo));
  dir.WriteFile("data/Trash/info/dup.mp3.trashinfo", "[Trash Info]\nPath=/another/dup.mp3\n");
  EXPECT_EQ(1, Undo(dir.Path("j.jsonl")).nRestored);
  EXPECT_TRUE(fs::exists(strDup));
  EXPECT_TRUE(fs::exists(strInfo));
}

TEST_F(JournalPlanTest, AForgedPlanIsRefusedWhole) {
  std::string strScan = ScanIdOf(PlanJson({{strKeep, strDup}, {strOther}}, dir.Path("lib")));
  std::vector<std::pair<std::string, const char*>> vecMany = {{strKeep, "keep"}};
  vecMany.resize(200'001, {strDup, "duplicate"});
  struct Case {
    const char* pszName;
    std::string strPlan;
    const char* pszSays;
  };
  const std::vector<Case> kCases = {
      {"written by hand", Plan("", {{strKeep, "keep"}, {strNotes, "duplicate"}}), "names no scan"},
      {"of an unknown scan", Plan(std::string(32, 'a'), {{strKeep, "keep"}}), "is not known"},
      {"naming a file the scan did not find",
       Plan(strScan, {{strKeep, "keep"}, {strNotes, "duplicate"}}), "not a file its scan found"},
      {"with a NUL in a name",
       Plan(strScan, {{strKeep, "keep"}, {strDup + std::string(1, '\0') + "x", "duplicate"}}),
       "NUL byte"},
      {"naming a file twice",
       Plan(strScan, {{strKeep, "keep"}, {strDup, "duplicate"}, {strDup, "duplicate"}}),
       "named more than once"},
      {"naming a file 200000 times", Plan(strScan, vecMany), "named more than once"},
      {"joining groups", Plan(strScan, {{strKeep, "keep"}, {strOther, "duplicate"}}),
       "did not group together"},
      {"made before a file was edited", Plan(strScan, {{strKeep, "keep"}, {strDup, "duplicate"}}),
       "changed since the scan"},
  };
  struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, strDup.c_str(), times, 0));
  auto before = Snapshot(dir.Path("lib"));
  for (const Case& c : kCases) {
    for (bool bDryRun : {true, false}) {
      SCOPED_TRACE(std::string(c.pszName) + (bDryRun ? ", dry run" : ""));
      std::vector<std::string> vecArgs = {"-q", "--apply", dir.WriteFile("plan.json", c.strPlan),
                                          "--link", "symbolic"};
      if (bDryRun) vecArgs.push_back("-n");
      CliResult result = RunCli(vecArgs);
      EXPECT_EQ(1, result.nExitCode);
      EXPECT_NE(std::string::npos, result.strErr.find(c.pszSays)) << result.strErr;
      EXPECT_EQ(before, Snapshot(dir.Path("lib")));
    }
  }
}

// Relative paths on the command line: the journal and the page name files absolutely,
// so undo and --apply run from another folder find them.
// ... and a plan naming a file with a newline in its name is carried out like any other.
TEST_F(JournalPlanTest, UndoAndApplyWorkFromAnyFolder) {
  std::string strHere = fs::current_path().string();
  fs::rename(strDup, dir.Path("lib/a/du\np.mp3"));
  auto before = Snapshot(dir.Path("lib"));
  ASSERT_EQ(0, chdir(dir.Path("lib").c_str()));
  CliResult trashed = RunCli({"-q", "-r", "--trash", "--journal", "../j.jsonl", "."});
  ASSERT_EQ(0, chdir(dir.Root().c_str()));
  ASSERT_EQ(0, trashed.nExitCode) << trashed.strErr;
  CliResult undone = RunCli({"--undo", "j.jsonl"});
  EXPECT_EQ(0, undone.nExitCode) << undone.strOut;
  EXPECT_EQ(before, Snapshot(dir.Path("lib")));
  ASSERT_EQ(0, chdir(dir.Path("lib").c_str()));
  CliResult paged = RunCli({"-q", "-r", "--html", "../page.html", "."});
  ASSERT_EQ(0, chdir(dir.Root().c_str()));
  ASSERT_EQ(0, paged.nExitCode) << paged.strErr;

  // The plan the page saves as it opens: its scan id, each member's path and role.
  std::string strPage = TempDir::ReadFile(dir.Path("page.html"));
  std::smatch match;
  std::regex_search(strPage, match, std::regex("\"scan_id\": ?\"(\\w+)\""));
  std::string strScanId = match[1];
  std::vector<std::pair<std::string, const char*>> vecMembers;
  const std::regex kMember("\"path_hex\": ?\"(\\w+)\"[^}]*\"role\": ?\"(\\w+)\"");
  for (std::sregex_iterator it(strPage.begin(), strPage.end(), kMember), end; it != end; ++it) {
    std::string strPath;
    twintone_cli::UnhexBytes((*it)[1], &strPath);
    vecMembers.emplace_back(strPath, (*it)[2] == "keep" ? "keep" : "duplicate");
  }
  CliResult applied = RunCli({"-q", "--apply", dir.WriteFile("plan.json", Plan(strScanId,
                              vecMembers)), "--move-duplicates", "dups"});
  EXPECT_EQ(0, applied.nExitCode) << applied.strErr;
  EXPECT_TRUE(fs::exists(dir.Path("dups/a/du\np.mp3"))) << applied.strOut;
  // Its report reads like the scan's: the mode and keep lines, each group's heading and
  // rows (format, length, reason), the count of files; the plan names files absolutely.
  auto head = [](const std::string& strOut) {
    std::string strHead = strOut.substr(0, std::min(strOut.find("\nMoves"), strOut.find("\nSummary")));
    return std::regex_replace(strHead, std::regex("  (\\./|/\\S*/lib/)a/"), "  a/");
  };
  EXPECT_EQ(head(paged.strOut), head(applied.strOut));
  EXPECT_EQ(std::string::npos, applied.strOut.find(" 0 files")) << applied.strOut;
  // Carried out again, it is refused in a line that says why.
  CliResult again = RunCli({"-q", "--apply", dir.Path("plan.json"), "--move-duplicates", "dups"});
  EXPECT_NE(std::string::npos, again.strErr.find("was the plan carried out already?")) << again.strErr;
  ASSERT_EQ(0, chdir(strHere.c_str()));
}

}  // namespace
}  // namespace twintone_cli_test
