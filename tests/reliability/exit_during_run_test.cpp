// A C host that returns from main, or calls exit inside an event, while a fingerprint
// run is decoding: every such process ends with status 0, no signal and no output.
// Before the library stopped its threads at exit, one in seven crashed in TagLib's statics.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"

namespace twintone_test {
namespace {

// Sanitizer builds start each process far more slowly; they run fewer.
#ifdef TWINTONE_SANITIZED_BUILD
constexpr int kProcesses = 40;
#else
constexpr int kProcesses = 200;
#endif

// Starts the host in nMode on two pieces in three encodings each, its output and
// errors read through the pipe.
FILE* StartHost(int nMode) {
  std::string strCommand = TWINTONE_EXIT_HOST_FILE " " + std::to_string(nMode);
  for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
    for (AudioEncoding enc : {AudioEncoding::kMp3At128, AudioEncoding::kFlac,
                              AudioEncoding::kOggVorbis}) {
      strCommand += " '" + SharedAudioCorpus().Path(nPiece, enc) + "'";
    }
  }
  return popen((strCommand + " 2>&1").c_str(), "r");
}

// "" for a clean exit, else what went wrong (a signal shows as a status from the shell).
std::string Outcome(FILE* pHost) {
  std::string strWritten;
  for (int c; pHost != nullptr && (c = fgetc(pHost)) != EOF;) strWritten += static_cast<char>(c);
  const int nStatus = pHost != nullptr ? pclose(pHost) : -1;
  if (nStatus != 0) return "status " + std::to_string(nStatus) + " " + strWritten;
  return strWritten.empty() ? "" : "wrote \"" + strWritten + "\"";
}

TEST(ExitDuringRunTest, EveryHostLeavingMidRunExitsCleanly) {
  // Modes cycle through: return at once or after 1 or 2 files, exit inside event 1 or 2.
  const int kModes[] = {0, 1, 2, 0, -1, -2};
  for (int nFirst = 0; nFirst < kProcesses; nFirst += 2) {  // two at a time
    FILE* pHosts[2] = {StartHost(kModes[nFirst % 6]), StartHost(kModes[(nFirst + 1) % 6])};
    for (int j = 0; j < 2; ++j) {
      EXPECT_EQ(Outcome(pHosts[j]), "") << "process " << nFirst + j << ", mode "
                                        << kModes[(nFirst + j) % 6];
    }
  }
}

}  // namespace
}  // namespace twintone_test
