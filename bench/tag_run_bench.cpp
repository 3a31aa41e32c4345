// Times a tag-mode run over a large folder of small tagged files, through the public
// API as a host makes it (AddToDedupeLists on the folder, a synchronous
// StartDedupeThread grouping by title, artist and album, the groups read back),
// against the baseline of reading the same files' tags with TagLib in one plain loop,
// measured in the same program run. Each side runs in a child process of its own, so
// its peak resident size is its own.
//
// Usage: twintone_bench_tag_run [--files=N] [--repetitions=N] [--only=twintone|taglib] [--keep]
//                               [folder]
// --only runs one side alone, for profiling it, and prints no ratio.
// The folder (default: a new one under $TMPDIR, else /tmp) receives N files (100,000)
// made at start: a quarter FLAC, the rest MP3, each a few hundred bytes of audio under
// an ID3v2.3 tag or Vorbis comments. Every song comes in kCopies files, so the run
// must find N / kCopies groups of kCopies; otherwise the program stops with status 1.
// The files are removed at the end unless --keep is given.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_run.h"
#include "twintone.h"

namespace {

using bench_run::Clock;
using bench_run::QuietStdout;
using bench_run::Since;
using bench_run::Timing;

constexpr int kCopies = 4;
constexpr int kMatchFlags = TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST | TWINTONE_MATCH_ALBUM;

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "tag_run_bench: %s\n", strWhat.c_str());
  exit(1);
}

std::string ReadWhole(const std::string& strPath) {
  FILE* pFile = fopen(strPath.c_str(), "rb");
  if (pFile == nullptr) Fail("cannot read " + strPath);
  std::string strData;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pFile)) > 0;) strData.append(buffer, n);
  fclose(pFile);
  return strData;
}

void WriteWhole(const std::string& strPath, const std::string& strData) {
  FILE* pFile = fopen(strPath.c_str(), "wb");
  if (pFile == nullptr || fwrite(strData.data(), 1, strData.size(), pFile) != strData.size()) {
    Fail("cannot write " + strPath);
  }
  fclose(pFile);
}

// A twentieth of a second of a tone, encoded by ffmpeg with no tag of its own.
std::string EncodedTone(const std::string& strDir, const char* pszExt) {
  const std::string strPath = strDir + "/template." + pszExt;
  const std::string strCommand =
      std::string(
          "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=0.05 "
          "-map_metadata -1 ") +
      (strcmp(pszExt, "mp3") == 0 ? "-id3v2_version 0 -write_xing 0 " : "") + "'" + strPath + "'";
  if (system(strCommand.c_str()) != 0) Fail("ffmpeg failed to make " + strPath);
  std::string strData = ReadWhole(strPath);
  unlink(strPath.c_str());
  return strData;
}

std::string BigEndian(uint32_t nValue, int nBytes) {
  std::string str;
  for (int i = nBytes - 1; i >= 0; --i) str += static_cast<char>((nValue >> (8 * i)) & 0xff);
  return str;
}

std::string LittleEndian32(uint32_t nValue) {
  std::string str;
  for (int i = 0; i < 4; ++i) str += static_cast<char>((nValue >> (8 * i)) & 0xff);
  return str;
}

// An ID3v2.3 tag of Latin-1 text frames.
std::string Id3Tag(const std::vector<std::pair<const char*, std::string>>& vecFrames) {
  std::string strBody;
  for (const auto& frame : vecFrames) {
    strBody += frame.first + BigEndian(static_cast<uint32_t>(frame.second.size() + 1), 4);
    strBody += std::string(2, '\0') + '\0' + frame.second;
  }
  std::string strSize;  // synchsafe: seven bits per byte
  for (int i = 3; i >= 0; --i) strSize += static_cast<char>((strBody.size() >> (7 * i)) & 0x7f);
  return std::string("ID3\x03\x00\x00", 6) + strSize + strBody;
}

// A FLAC file's STREAMINFO block, then Vorbis comments, then its audio frames.
std::string FlacWithComments(const std::string& strFlac,
                             const std::vector<std::string>& vecComments) {
  if (strFlac.compare(0, 4, "fLaC") != 0 || strFlac.size() < 42) Fail("unexpected FLAC template");
  size_t nAt = 4;
  bool bLast = false;
  std::string strStreamInfo;
  while (!bLast && nAt + 4 <= strFlac.size()) {
    bLast = (strFlac[nAt] & 0x80) != 0;
    const int nType = strFlac[nAt] & 0x7f;
    const size_t nLength = (static_cast<uint8_t>(strFlac[nAt + 1]) << 16) |
                           (static_cast<uint8_t>(strFlac[nAt + 2]) << 8) |
                           static_cast<uint8_t>(strFlac[nAt + 3]);
    if (nType == 0) strStreamInfo = strFlac.substr(nAt + 4, nLength);
    nAt += 4 + nLength;
  }
  std::string strComments = LittleEndian32(7) + "twinton" + LittleEndian32(vecComments.size());
  for (const std::string& strComment : vecComments) {
    strComments += LittleEndian32(static_cast<uint32_t>(strComment.size())) + strComment;
  }
  return "fLaC" + std::string(1, '\0') + BigEndian(34, 3) + strStreamInfo + std::string(1, '\x84') +
         BigEndian(static_cast<uint32_t>(strComments.size()), 3) + strComments +
         strFlac.substr(nAt);
}

struct Song {
  std::string strTitle, strArtist, strAlbum;
};

Song SongOf(int nFile) {
  const int nSong = nFile / kCopies;
  return {"Title " + std::to_string(nSong), "Artist " + std::to_string(nSong % 997),
          "Album " + std::to_string(nSong % 4001)};
}

std::string FileName(int nFile) {
  char szName[32];
  snprintf(szName, sizeof szName, "/t%06d.%s", nFile, nFile % 4 == 3 ? "flac" : "mp3");
  return szName;
}

void MakeFiles(const std::string& strDir, int nFiles) {
  const std::string strMp3 = EncodedTone(strDir, "mp3"), strFlac = EncodedTone(strDir, "flac");
  for (int i = 0; i < nFiles; ++i) {
    const Song song = SongOf(i);
    const std::string strData =
        i % 4 == 3
            ? FlacWithComments(strFlac, {"TITLE=" + song.strTitle, "ARTIST=" + song.strArtist,
                                         "ALBUM=" + song.strAlbum})
            : Id3Tag({{"TIT2", song.strTitle}, {"TPE1", song.strArtist}, {"TALB", song.strAlbum}}) +
                  strMp3;
    WriteWhole(strDir + FileName(i), strData);
  }
}

// Runs fn in a child process; returns its wall and CPU time, and its peak resident
// size in *pnPeakKiB. fn's return value is the child's exit status.
template <typename Fn>
Timing InChild(const char* pszWhat, long* pnPeakKiB, Fn fn) {
  fflush(stdout);
  Clock start = Clock::Now();
  pid_t nPid = fork();
  if (nPid < 0) Fail("fork failed");
  if (nPid == 0) _exit(fn());
  int nStatus = 0;
  rusage usage{};
  if (wait4(nPid, &nStatus, 0, &usage) != nPid) Fail("wait failed");
  Timing timing = Since(start);
  if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) Fail(std::string(pszWhat) + " failed");
  *pnPeakKiB = usage.ru_maxrss;
  return timing;
}

// The library's side: load the folder, group by tags, check the groups.
int LibraryRun(const std::string& strDir, int nFiles) {
  int nGroups = 0;
  {
    QuietStdout quiet;
    if (AddToDedupeLists(strDir.c_str(), 0) != 0) return 2;
    if (StartDedupeThread(nullptr, nullptr, kMatchFlags, 0, 0) != 0) return 3;
    nGroups = GetGroupIdCounts();
  }
  if (GetLoadCounts() != nFiles) return 4;
  if (nGroups != nFiles / kCopies) {
    fprintf(stderr, "expected %d groups, found %d\n", nFiles / kCopies, nGroups);
    return 5;
  }
  for (int g = 0; g < nGroups; ++g) {
    tagInMusicDedupInfo* pFirst = nullptr;
    int nCount = 0;
    if (GetGroupRef(g, &pFirst, &nCount, 0) != 0 || nCount != kCopies) return 6;
  }
  return 0;
}

// The baseline: every file's tags and properties read with TagLib in one loop.
int TagLibLoop(const std::string& strDir, int nFiles) {
  size_t nChars = 0;
  for (int i = 0; i < nFiles; ++i) {
    TagLib::FileRef file((strDir + FileName(i)).c_str(), true);
    if (file.isNull() || file.tag() == nullptr) return 2;
    nChars += file.tag()->title().size() + file.tag()->artist().size() + file.tag()->album().size();
  }
  return nChars > 0 ? 0 : 3;
}

void RemoveFolder(const std::string& strDir, int nFiles) {
  for (int i = 0; i < nFiles; ++i) unlink((strDir + FileName(i)).c_str());
  rmdir(strDir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);  // its flags are accepted and ignored
  int nFiles = 100000, nRepetitions = 1;
  bool bKeep = false;
  std::string strOnly;
  std::string strDir;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--files=", 8) == 0) {
      nFiles = std::max(kCopies, atoi(argv[i] + 8) / kCopies * kCopies);
    } else if (strncmp(argv[i], "--repetitions=", 14) == 0) {
      nRepetitions = std::max(1, atoi(argv[i] + 14));
    } else if (strcmp(argv[i], "--only=twintone") == 0 || strcmp(argv[i], "--only=taglib") == 0) {
      strOnly = argv[i] + 7;
    } else if (strcmp(argv[i], "--keep") == 0) {
      bKeep = true;
    } else if (argv[i][0] == '-') {
      fprintf(
          stderr,
          "usage: %s [--files=N] [--repetitions=N] [--only=twintone|taglib] [--keep] [folder]\n",
          argv[0]);
      return 2;
    } else {
      strDir = argv[i];
    }
  }
  if (strDir.empty()) {
    const char* pszTmp = getenv("TMPDIR");
    std::string strTemplate =
        std::string(pszTmp != nullptr ? pszTmp : "/tmp") + "/twintone-tags-XXXXXX";
    if (mkdtemp(&strTemplate[0]) == nullptr) Fail("cannot make a folder under " + strTemplate);
    strDir = strTemplate;
  } else if (mkdir(strDir.c_str(), 0755) != 0 && errno != EEXIST) {
    Fail("cannot make " + strDir);
  }

  Clock made = Clock::Now();
  MakeFiles(strDir, nFiles);
  printf("made %d files (%d songs x %d copies, a quarter FLAC) in %s in %.1f s\n", nFiles,
         nFiles / kCopies, kCopies, strDir.c_str(), Since(made).fWall);
  printf("cores: %ld; wall and CPU (user+system) of each side's own process\n\n",
         sysconf(_SC_NPROCESSORS_ONLN));

  // Alternating sides; each side's fastest wall time counts.
  Timing best[2];
  long nPeak[2] = {0, 0};
  printf("%-4s %-16s %10s %10s %12s\n", "rep", "run", "wall s", "cpu s", "peak MiB");
  for (int r = 0; r < nRepetitions; ++r) {
    long nKiB = 0;
    if (strOnly != "taglib") {
      Timing lib = InChild("the tag run", &nKiB, [&] { return LibraryRun(strDir, nFiles); });
      printf("%-4d %-16s %10.2f %10.2f %12.1f\n", r + 1, "twintone", lib.fWall, lib.fCpu,
             nKiB / 1024.0);
      if (r == 0 || lib.fWall < best[0].fWall) best[0] = lib, nPeak[0] = nKiB;
    }
    if (strOnly != "twintone") {
      Timing base = InChild("the TagLib loop", &nKiB, [&] { return TagLibLoop(strDir, nFiles); });
      printf("%-4d %-16s %10.2f %10.2f %12.1f\n", r + 1, "TagLib loop", base.fWall, base.fCpu,
             nKiB / 1024.0);
      if (r == 0 || base.fWall < best[1].fWall) best[1] = base, nPeak[1] = nKiB;
    }
    fflush(stdout);
  }
  if (!bKeep) RemoveFolder(strDir, nFiles);
  if (!strOnly.empty()) return 0;

  printf("\ngroups: %d of %d files each, as expected\n", nFiles / kCopies, kCopies);
  printf("tag run: twintone %.2f s (%.1f us per file), TagLib loop %.2f s: %.2fx\n", best[0].fWall,
         best[0].fWall * 1e6 / nFiles, best[1].fWall, best[1].fWall / best[0].fWall);
  printf("tag run cpu: twintone %.2f s, TagLib loop %.2f s\n", best[0].fCpu, best[1].fCpu);
  printf("tag run peak resident size: twintone %.1f MiB (%.0f bytes per file), TagLib loop %.1f MiB\n",
         nPeak[0] / 1024.0, nPeak[0] * 1024.0 / nFiles, nPeak[1] / 1024.0);
  return 0;
}
