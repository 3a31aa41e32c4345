// Moves killed at random moments, within one file system and across two: whatever
// moment SIGKILL lands at, --undo from the journal puts every file back byte for byte,
// leaves nothing in the target, is safe to run twice, and can itself be killed and rerun.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "cli_runner.h"
#include "common/file_ops.h"
#include "act/undo.h"

namespace twintone_cli_test {
namespace {

using Clock = std::chrono::steady_clock;

bool Mount(const std::string& strDir) {
  return std::system(("mount -t tmpfs -o size=64m tmpfs " + strDir + " 2>/dev/null").c_str()) == 0;
}

int64_t JournalSize(const std::string& strJournal) {
  twintone_cli::FileFacts facts = twintone_cli::FactsOf(strJournal);
  return facts.bExists ? facts.nSize : -1;
}

// Waits up to ten seconds for the journal's size to differ from nSize.
void WaitForJournalPast(const std::string& strJournal, int64_t nSize) {
  for (Clock::time_point end = Clock::now() + std::chrono::seconds(10);
       JournalSize(strJournal) == nSize && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

class KillLoopTest : public ::testing::Test {
 protected:
  // Three groups of three copies, 64 KB to 1.5 MB each (a copy across file systems takes
  // a while to kill in the middle of), on a tmpfs of their own when the test may mount
  // one: the kills test the order of the steps, and fsyncs then cost nothing.
  void SetUp() override {
    strNear = dir.MakeDir("near");
    if (Mount(strNear)) vecMounts.push_back(strNear);
    std::mt19937 random(20261205);
    for (int g = 0; g < 3; ++g) {
      vecGroups.emplace_back();
      for (std::string strFolder : {"A", "B/deep", "C"}) {
        std::string strBytes(64 * 1024 + random() % (1400 * 1024), '\0');
        for (char& c : strBytes) c = static_cast<char>(random());
        dir.MakeDir("near/lib/" + strFolder);
        vecGroups.back().push_back(dir.WriteFile(
            "near/lib/" + strFolder + "/song" + std::to_string(g) + ".flac", strBytes));
      }
    }
    mapBefore = Snapshot(dir.Path("near/lib"));
  }

  void TearDown() override {
    for (const std::string& strMount : vecMounts) {
      EXPECT_EQ(0, std::system(("umount -l " + strMount).c_str()));
    }
  }

  // A second file system for the target: a fresh tmpfs (as root), else /dev/shm when it
  // is one; empty when neither is available.
  std::string FarFolder() {
    std::string strFar = dir.MakeDir("far");
    if (Mount(strFar)) return vecMounts.push_back(strFar), strFar;
    std::string strShm = "/dev/shm/twintone-kill-" + std::to_string(getpid());
    bool bOther = mkdir(strShm.c_str(), 0700) == 0 &&
                  twintone_cli::FactsOf(strShm).nDevice != twintone_cli::FactsOf(strFar).nDevice;
    return bOther ? strShm : "";
  }

  // Runs the plan's move into strTarget and, with nDelayUs >= 0, kills it that long
  // after its journal appears (at once when bEarly). Returns how long it ran after.
  long MoveKilledAfter(const std::string& strTarget, long nDelayUs, bool bEarly = false) {
    std::string strPlan = dir.WriteFile("plan.json", PlanJson(vecGroups, dir.Path("near/lib")));
    CliProcess process(
        {"-q", "--apply", strPlan, "--move-duplicates", strTarget, "--journal", strJournal});
    if (!bEarly) WaitForJournalPast(strJournal, -1);
    Clock::time_point start = Clock::now();
    if (nDelayUs >= 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(nDelayUs));
      process.Signal(SIGKILL);
    }
    CliResult result = process.Finish();
    EXPECT_TRUE(nDelayUs >= 0 || result.nExitCode == 0) << result.strErr;
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
  }

  // Undoes the journal nRuns times, the first killed part-way when nKillUs >= 0 (after
  // its first line of progress) and run through the command when bCommand (the rest run
  // in this process, to keep the loop quick); then everything must be as it was.
  void ExpectUndone(const std::string& strTarget, int nRuns, long nKillUs, bool bCommand) {
    if (int64_t nSize = JournalSize(strJournal); nSize >= 0 && nKillUs >= 0) {
      CliProcess process({"--undo", strJournal});
      WaitForJournalPast(strJournal, nSize);
      std::this_thread::sleep_for(std::chrono::microseconds(nKillUs));
      process.Signal(SIGKILL);
    }
    for (int nRun = 0; JournalSize(strJournal) >= 0 && nRun < nRuns; ++nRun) {
      int nRestored = 0;
      if (bCommand && nRun == 0) {
        CliResult result = RunCli({"--undo", strJournal});
        ASSERT_EQ(0, result.nExitCode) << result.strOut << result.strErr;
        nRestored = result.strOut.find("Undo: 0 restored") == std::string::npos;
      } else {
        FILE* pOut = tmpfile();
        twintone_cli::UndoOutcome outcome = twintone_cli::UndoJournal(strJournal, pOut);
        std::fclose(pOut);
        ASSERT_TRUE(outcome.bRead && outcome.nProblems == 0) << outcome.strError;
        nRestored = outcome.nRestored;
      }
      if (nRun == 0 && nRestored > 0) ++nUndoneMidway;
    }
    unlink(strJournal.c_str());
    ASSERT_EQ(mapBefore, Snapshot(dir.Path("near/lib")));
    EXPECT_TRUE(!twintone_cli::FactsOf(strTarget).bExists || Snapshot(strTarget).empty());
  }

  TempDir dir;
  std::vector<std::vector<std::string>> vecGroups;
  std::map<std::string, std::string> mapBefore;
  std::string strNear, strJournal = dir.Path("near/journal.jsonl");
  std::vector<std::string> vecMounts;
  int nUndoneMidway = 0;  // kills after which --undo had files to put back
};

TEST_F(KillLoopTest, EveryKilledMoveIsUndoneWithEveryByteAccountedFor) {
  std::vector<std::string> vecTargets = {strNear + "/dups"};
  std::string strFar = FarFolder();
  if (!strFar.empty()) vecTargets.push_back(strFar + "/dups");
  std::mt19937 random(7);
  for (const std::string& strTarget : vecTargets) {
    // One run to the end measures the window the kills are spread over. Every tenth
    // kill lands before the journal can exist; every fourth undo is itself killed
    // part-way first; every fifth runs twice.
    long nWholeUs = MoveKilledAfter(strTarget, -1);
    ExpectUndone(strTarget, 2, -1, true);
    for (int nKill = 0; nKill < 52 / static_cast<int>(vecTargets.size()); ++nKill) {
      long nDelayUs = std::uniform_int_distribution<long>(0, nWholeUs)(random);
      MoveKilledAfter(strTarget, nDelayUs, nKill % 10 == 0);
      ExpectUndone(strTarget, nKill % 5 == 0 ? 2 : 1, nKill % 4 == 3 ? nDelayUs / 2 : -1, false);
      if (HasFatalFailure()) {
        FAIL() << "after a kill at " << nDelayUs << " us of " << nWholeUs << " into " << strTarget;
      }
    }
  }
  EXPECT_GT(nUndoneMidway, 0);
  if (strFar.empty()) GTEST_SKIP() << "no second file system: only moves within one were killed";
}

}  // namespace
}  // namespace twintone_cli_test
