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
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "cli_runner.h"
#include "file_ops.h"
#include "text_escape.h"
#include "undo.h"

namespace twintone_cli_test {
namespace {

using Clock = std::chrono::steady_clock;

class KillLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library on a tmpfs of its own when the test may mount one (as root): the kills
    // test the order of the steps, and the journal's fsyncs then cost nothing.
    strNear = dir.MakeDir("near");
    if (Mount(strNear)) vecMounts.push_back(strNear);
    std::mt19937 random(20261205);
    const char* kFolders[] = {"A", "B/deep", "C"};
    for (const char* pszFolder : kFolders) dir.MakeDir(std::string("near/lib/") + pszFolder);
    // Three groups of three copies, 64 KB to 1.5 MB each: large enough that a copy
    // across file systems takes a while to kill in the middle of.
    for (int g = 0; g < 3; ++g) {
      std::vector<std::string> vecGroup;
      for (const char* pszFolder : kFolders) {
        std::string strBytes(64 * 1024 + random() % (1400 * 1024), '\0');
        for (char& c : strBytes) c = static_cast<char>(random());
        vecGroup.push_back(dir.WriteFile(
            std::string("near/lib/") + pszFolder + "/song" + std::to_string(g) + ".flac",
            strBytes));
      }
      vecGroups.push_back(vecGroup);
    }
    mapBefore = Snapshot(dir.Path("near/lib"));
  }

  void TearDown() override {
    for (const std::string& strMount : vecMounts) {
      EXPECT_EQ(0, std::system(("umount -l " + strMount).c_str()));
    }
  }

  static bool Mount(const std::string& strDir) {
    return std::system(("mount -t tmpfs -o size=64m tmpfs " + strDir + " 2>/dev/null").c_str()) ==
           0;
  }

  // A second file system for the target: a fresh tmpfs (as root), else /dev/shm when it
  // is one; empty when neither is available.
  std::string FarFolder() {
    std::string strFar = dir.MakeDir("far");
    if (Mount(strFar)) {
      vecMounts.push_back(strFar);
      return strFar;
    }
    std::string strShm = "/dev/shm/twintone-kill-" + std::to_string(getpid());
    if (mkdir(strShm.c_str(), 0700) == 0 &&
        twintone_cli::FactsOf(strShm).nDevice != twintone_cli::FactsOf(dir.Root()).nDevice) {
      return strShm;
    }
    return "";
  }

  // A plan keeping each group's first file, written from the files as they are now.
  std::string WritePlan() {
    std::string strJson = "{\"twintone_plan\": 1, \"groups\": [";
    for (size_t g = 0; g < vecGroups.size(); ++g) {
      strJson += g == 0 ? "{\"members\": [" : ", {\"members\": [";
      for (size_t i = 0; i < vecGroups[g].size(); ++i) {
        const std::string& strPath = vecGroups[g][i];
        twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
        std::string strRel = strPath.substr(dir.Path("near/lib/").size());
        strJson +=
            std::string(i == 0 ? "" : ", ") + "{\"path_hex\": \"" +
            twintone_cli::HexBytes(strPath) + "\", \"rel_hex\": \"" +
            twintone_cli::HexBytes(strRel) + "\", \"size\": \"" + std::to_string(facts.nSize) +
            "\", \"mtime_ns\": \"" + std::to_string(facts.nModifiedNs) + "\", \"dev\": \"" +
            std::to_string(facts.nDevice) + "\", \"ino\": \"" + std::to_string(facts.nInode) +
            "\", \"role\": \"" + (i == 0 ? "keep" : "duplicate") + "\"}";
      }
      strJson += "]}";
    }
    return dir.WriteFile("plan.json", strJson + "]}");
  }

  // Runs the move into strTarget. With nDelayUs >= 0 it is killed that long after its
  // journal appears (at once when bEarly: before anything is written). Returns how long
  // it ran after its journal appeared.
  long MoveKilledAfter(const std::string& strTarget, const std::string& strJournal, long nDelayUs,
                       bool bEarly = false) {
    std::string strPlan = WritePlan();
    CliProcess process(
        {"-q", "--apply", strPlan, "--move-duplicates", strTarget, "--journal", strJournal});
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (!bEarly && !twintone_cli::FactsOf(strJournal).bExists && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    Clock::time_point start = Clock::now();
    if (nDelayUs >= 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(nDelayUs));
      process.Signal(SIGKILL);
    }
    CliResult result = process.Finish();
    if (nDelayUs < 0) {
      EXPECT_EQ(0, result.nExitCode) << result.strErr;
    }
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
  }

  // Starts --undo on strJournal and kills it nDelayUs after its first line of progress
  // reaches the journal, so that an undo stopped part-way is undone again after.
  void UndoKilledAfter(const std::string& strJournal, long nDelayUs) {
    if (!twintone_cli::FactsOf(strJournal).bExists) return;
    int64_t nSize = twintone_cli::FactsOf(strJournal).nSize;
    CliProcess process({"--undo", strJournal});
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (twintone_cli::FactsOf(strJournal).nSize == nSize && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(nDelayUs));
    process.Signal(SIGKILL);
    process.Finish();
  }

  // Undoes strJournal (nRuns times; the first through the command when bCommand, else
  // in this process) and checks that everything is as it was before.
  void ExpectUndone(const std::string& strTarget, const std::string& strJournal, int nRuns,
                    bool bCommand = false) {
    if (twintone_cli::FactsOf(strJournal).bExists) {
      for (int nRun = 0; nRun < nRuns; ++nRun) {
        std::string strOut;
        if (bCommand && nRun == 0) {
          CliResult result = RunCli({"--undo", strJournal});
          ASSERT_EQ(0, result.nExitCode) << result.strOut << result.strErr;
          strOut = result.strOut;
        } else {
          char* pszOut = nullptr;
          size_t nSize = 0;
          FILE* pOut = open_memstream(&pszOut, &nSize);
          twintone_cli::UndoOutcome outcome = twintone_cli::UndoJournal(strJournal, pOut);
          std::fclose(pOut);
          strOut.assign(pszOut, nSize);
          std::free(pszOut);
          ASSERT_TRUE(outcome.bRead && outcome.nProblems == 0) << strOut << outcome.strError;
        }
        if (nRun == 0 && strOut.find("Undo: 0 restored") == std::string::npos) ++nUndoneMidway;
      }
      unlink(strJournal.c_str());
    }
    ASSERT_EQ(mapBefore, Snapshot(dir.Path("near/lib")));
    if (twintone_cli::FactsOf(strTarget).bExists) {
      EXPECT_TRUE(Snapshot(strTarget).empty());
    }
  }

  TempDir dir;
  std::vector<std::vector<std::string>> vecGroups;
  std::map<std::string, std::string> mapBefore;
  std::string strNear;
  std::vector<std::string> vecMounts;
  int nUndoneMidway = 0;  // kills after which --undo had files to put back
};

TEST_F(KillLoopTest, EveryKilledMoveIsUndoneWithEveryByteAccountedFor) {
  std::vector<std::string> vecTargets = {strNear + "/dups"};
  std::string strFar = FarFolder();
  if (!strFar.empty()) vecTargets.push_back(strFar + "/dups");
  std::mt19937 random(7);
  const int kKillsPerTarget = 52 / static_cast<int>(vecTargets.size());
  for (const std::string& strTarget : vecTargets) {
    std::string strJournal = strNear + "/journal.jsonl";
    // One run to the end measures the window the kills are spread over.
    long nWholeUs = MoveKilledAfter(strTarget, strJournal, -1);
    ExpectUndone(strTarget, strJournal, 2, true);
    for (int nKill = 0; nKill < kKillsPerTarget; ++nKill) {
      long nDelayUs = std::uniform_int_distribution<long>(0, nWholeUs)(random);
      // Every tenth kill lands before the journal can exist; every fourth undo is itself
      // killed part-way first; every fifth runs twice.
      MoveKilledAfter(strTarget, strJournal, nDelayUs, nKill % 10 == 0);
      if (nKill % 4 == 3) UndoKilledAfter(strJournal, nDelayUs / 2);
      ExpectUndone(strTarget, strJournal, nKill % 5 == 0 ? 2 : 1);
      if (HasFatalFailure()) {
        FAIL() << "after a kill at " << nDelayUs << " us of " << nWholeUs << " into " << strTarget;
      }
    }
  }
  std::cout << nUndoneMidway << " of " << 2 * kKillsPerTarget << " runs had files to put back\n";
  EXPECT_GT(nUndoneMidway, 0);
  if (strFar.empty()) GTEST_SKIP() << "no second file system: only moves within one were killed";
}

}  // namespace
}  // namespace twintone_cli_test
