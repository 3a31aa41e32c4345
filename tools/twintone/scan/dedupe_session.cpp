#include "scan/dedupe_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "scan/fingerprint_cache.h"
#include "common/interrupt.h"
#include "scan/audio_format.h"
#include "scan/content_hash.h"
#include "scan/distinct_marks.h"
#include "scan/filing_choice.h"
#include "scan/path_intake.h"
#include "scan/progress_bar.h"
#include "twintone.h"
#include "twintone_ext.h"

namespace twintone_cli {
namespace {

// A pipe whose ends close with it.
class Pipe {
 public:
  Pipe() {
    if (pipe2(m_fds, O_CLOEXEC) != 0) m_fds[0] = m_fds[1] = -1;
  }
  ~Pipe() {
    for (int fd : m_fds) {
      if (fd >= 0) close(fd);
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool Ok() const { return m_fds[0] >= 0; }
  int ReadFd() const { return m_fds[0]; }
  int WriteFd() const { return m_fds[1]; }

 private:
  int m_fds[2];
};

// What the library's callback tells the main thread. The callback runs on the
// library's worker thread; everything but fdEnd is guarded by mutex.
struct RunState {
  std::mutex mutex;
  int nTotal = -1;  // from the start event
  int nDone = 0;    // the last progress event's position
  std::string strCurrent;
  std::vector<std::pair<int, std::string>> vecFinished;  // not yet seen by the main thread
  int fdEnd = -1;  // the worker writes one byte here after its last touch of this record
};

// Runs on the library's worker thread, some events under the library's data lock: it
// only records and never calls back into the library.
void OnDedupeEvent(void* pData, int nCode, const char* pszText, void* pUser) {
  RunState* pState = static_cast<RunState*>(pUser);
  bool bEnd = false;
  {
    std::lock_guard<std::mutex> lock(pState->mutex);
    if (nCode == -1) {
      pState->nTotal = pData != nullptr ? *static_cast<const int*>(pData) : 0;
    } else if (pState->nTotal >= 0 && nCode == pState->nTotal + 1) {
      bEnd = true;
    } else {
      pState->nDone = nCode;
      pState->strCurrent = pszText != nullptr ? pszText : "";
      pState->vecFinished.emplace_back(nCode, pState->strCurrent);
    }
  }
  if (bEnd) {
    char byte = 'e';
    ssize_t nIgnored = write(pState->fdEnd, &byte, 1);
    (void)nIgnored;
  }
}

void PrintError(ProgressBar* pBar, const std::string& strMessage) {
  pBar->PrintLine("twintone: " + strMessage);
}

// Starts the worker with SIGINT and SIGTERM blocked, so that it inherits the block and
// the signals reach the main thread, which handles them.
int StartRunWithSignalsOnMainThread(RunState* pState, const ScanSettings& settings,
                                    bool bIndexed) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  int nResult =
      twintone_set_filing(bIndexed ? TWINTONE_FILING_FAST : TWINTONE_FILING_EXACT);
  // Every grouped copy is listened to, so that the keeper can go by what each sounds
  // like; through the cache's store when one is open.
  if (nResult == 0) nResult = twintone_set_quality(settings.bNoQuality ? 0 : 1);
  if (nResult == 0) {
    nResult = StartDedupeThread(OnDedupeEvent, pState, settings.nMatchFlags, settings.nSeconds,
                                settings.nSimilarity);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return nResult;
}

// What the library says became of each loaded file, by stored path.
using FileOutcomes = std::map<std::string, twintone_file_info>;

// Empty when the library cannot say (twintone_file_count refuses).
FileOutcomes ReadFileOutcomes() {
  FileOutcomes mapOutcomes;
  int nFiles = twintone_file_count();
  for (int i = 0; i < nFiles; ++i) {
    twintone_file_info info{};
    info.nStructSize = sizeof(info);
    if (twintone_file_info_at(i, &info) != 0 || info.pszPath == nullptr) continue;
    mapOutcomes[info.pszPath] = info;
  }
  return mapOutcomes;
}

// What the run measured of the loaded file strPath; unmeasured when it measured
// nothing (measuring off, stopped, or no audio decoded).
Quality ReadQuality(const std::string& strPath) {
  Quality quality;
  twintone_quality q{};
  q.nStructSize = sizeof(q);
  if (twintone_quality_of(strPath.c_str(), &q) != 0 || !(q.nFlags & TWINTONE_QUALITY_MEASURED)) {
    return quality;
  }
  quality.bMeasured = true;
  quality.bLossyEdge = (q.nFlags & TWINTONE_QUALITY_LOSSY_EDGE) != 0;
  quality.bLossySource = (q.nFlags & TWINTONE_QUALITY_LOSSY_SOURCE) != 0;
  quality.bFromStore = (q.nFlags & TWINTONE_QUALITY_FROM_STORE) != 0;
  quality.nSampleRate = q.nSampleRate;
  quality.nChannels = q.nChannels;
  quality.nBandwidthHz = q.nBandwidthHz;
  quality.nStereo = q.nStereo;
  quality.nClippedPpm = q.nClippedPpm;
  quality.nLeadSilenceMs = q.nLeadSilenceMs;
  quality.nTrailSilenceMs = q.nTrailSilenceMs;
  quality.nAddedLeadMs = q.nAddedLeadMs;
  quality.nAddedTrailMs = q.nAddedTrailMs;
  quality.nMeasuredMs = q.nMeasuredMs;
  return quality;
}

Member CopyMember(const tagInMusicDedupInfo& info, const FileOutcomes& mapOutcomes) {
  Member member;
  member.strPath = info.pszPath != nullptr ? info.pszPath : "";
  member.strTitle = info.pszTitle != nullptr ? info.pszTitle : "";
  member.strArtist = info.pszArtist != nullptr ? info.pszArtist : "";
  member.strAlbum = info.pszAlbum != nullptr ? info.pszAlbum : "";
  member.nDurationMs = info.nDuration;
  member.nBitrateKbps = info.nBitrate;
  member.fSimilarity = info.fSimilarity;
  member.nSizeBytes = static_cast<uint32_t>(info.nFileSize);
  struct stat st;
  if (lstat(member.strPath.c_str(), &st) == 0) {
    member.nDevice = st.st_dev;
    member.nInode = st.st_ino;
    member.bSymlink = S_ISLNK(st.st_mode);
    member.nLinks = st.st_nlink;
    if (member.bSymlink && stat(member.strPath.c_str(), &st) != 0) st.st_size = 0;
    member.nSizeBytes = st.st_size;
    member.nModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  DescribeFormat(member.strPath, &member.strFormat, &member.bLossless);
  auto it = mapOutcomes.find(member.strPath);
  if (it != mapOutcomes.end()) member.nDecodedMs = it->second.nDecodedMs;
  member.quality = ReadQuality(member.strPath);
  return member;
}

std::vector<Group> CopyGroups(const FileOutcomes& mapOutcomes) {
  std::vector<Group> vecGroups;
  int nGroups = GetGroupIdCounts();
  for (int g = 0; g < nGroups; ++g) {
    tagInMusicDedupInfo* pInfo = nullptr;
    int nCount = 0;
    if (GetGroupRef(static_cast<unsigned>(g), &pInfo, &nCount, 0) != 0) break;
    Group group;
    for (int i = 0; i < nCount; ++i) {
      pInfo = nullptr;
      if (GetGroupRef(static_cast<unsigned>(g), &pInfo, &nCount, i) == 0 && pInfo != nullptr) {
        group.vecMembers.push_back(CopyMember(*pInfo, mapOutcomes));
      }
    }
    if (group.vecMembers.size() >= 2) vecGroups.push_back(std::move(group));
  }
  return vecGroups;
}

// Files the run did not group: unique ones, and those it skipped or never reached.
// Without the library's outcomes, every file a progress event named and no group holds
// counts as unique, and the rest of the loaded files cannot be named.
void AccountForUngrouped(const FileOutcomes& mapOutcomes,
                         const std::vector<std::string>& vecProgressed, RunReport* pReport) {
  std::set<std::string> setGrouped;
  for (const Group& group : pReport->vecGroups) {
    for (const Member& member : group.vecMembers) setGrouped.insert(member.strPath);
  }
  if (mapOutcomes.empty()) {
    for (const std::string& strPath : std::set<std::string>(vecProgressed.begin(),
                                                            vecProgressed.end())) {
      if (setGrouped.count(strPath) == 0) pReport->vecUnique.push_back(strPath);
    }
    return;
  }
  for (const auto& entry : mapOutcomes) {
    const twintone_file_info& info = entry.second;
    if (setGrouped.count(entry.first) != 0) continue;
    if (info.nOutcome == TWINTONE_OUTCOME_SKIPPED) {
      std::string strReason = info.pszReason != nullptr ? info.pszReason : "";
      pReport->vecSkipped.push_back({entry.first, strReason.empty() ? "skipped" : strReason, false});
    } else if (info.nOutcome == TWINTONE_OUTCOME_PENDING) {
      pReport->vecSkipped.push_back({entry.first, "not reached: the run was stopped", false});
    } else {
      // Alone, or grouped in a group of one the report does not show.
      pReport->vecUnique.push_back(entry.first);
    }
  }
}

// Hands the tag-mode settings to the library. False, with the reason printed, when it
// refuses one.
bool ApplyLibrarySettings(const ScanSettings& settings, ProgressBar* pBar) {
  if (!settings.strLegacyEncoding.empty()) {
    int nResult = twintone_set_legacy_encoding(settings.strLegacyEncoding.c_str());
    if (nResult != 0) {
      PrintError(pBar, nResult == -2 ? "the library does not know the encoding '" +
                                           settings.strLegacyEncoding + "'"
                                     : "the library refused --legacy-encoding");
      return false;
    }
  }
  if (twintone_set_key_compare(settings.bLoose ? TWINTONE_KEY_LOOSE : TWINTONE_KEY_EXACT) != 0 &&
      settings.bLoose) {
    PrintError(pBar, "the library refused --loose");
    return false;
  }
  const int nFloor = settings.bFingerprint ? settings.nNearFloor : 0;
  if (twintone_set_near_floor(nFloor) != 0 && nFloor != 0) {
    PrintError(pBar, "the library refused --near");
    return false;
  }
  return true;
}

// The near misses the run noted, strongest first; none between two files of one group.
std::vector<NearMiss> ReadNearMisses(const std::vector<Group>& vecGroups) {
  std::map<std::string, size_t> mapGroupOf;
  for (size_t g = 0; g < vecGroups.size(); ++g) {
    for (const Member& member : vecGroups[g].vecMembers) mapGroupOf[member.strPath] = g;
  }
  std::vector<NearMiss> vecNear;
  int nFiles = twintone_file_count();
  for (int i = 0; i < nFiles; ++i) {
    twintone_file_info info{};
    info.nStructSize = sizeof(info);
    const char* pszOther = nullptr;
    double fScore = 0.0;
    if (twintone_near_miss_at(i, &pszOther, &fScore) != 1 ||
        twintone_file_info_at(i, &info) != 0 || info.pszPath == nullptr) {
      continue;
    }
    auto a = mapGroupOf.find(info.pszPath);
    auto b = mapGroupOf.find(pszOther);
    if (a != mapGroupOf.end() && b != mapGroupOf.end() && a->second == b->second) continue;
    vecNear.push_back({info.pszPath, pszOther, static_cast<float>(fScore)});
  }
  std::stable_sort(vecNear.begin(), vecNear.end(), [](const NearMiss& x, const NearMiss& y) {
    return x.fSimilarity > y.fSimilarity;
  });
  return vecNear;
}

}  // namespace

StdoutSilencer::StdoutSilencer() {
  std::fflush(stdout);
  m_fdSaved = dup(STDOUT_FILENO);
  int fdNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (m_fdSaved >= 0 && fdNull >= 0) dup2(fdNull, STDOUT_FILENO);
  if (fdNull >= 0) close(fdNull);
}

StdoutSilencer::~StdoutSilencer() {
  std::fflush(stdout);  // the library's lines, buffered, still go to /dev/null
  if (m_fdSaved >= 0) {
    dup2(m_fdSaved, STDOUT_FILENO);
    close(m_fdSaved);
  }
}

SessionOutcome RunDedupeSession(const ScanSettings& settings, RunReport* pReport) {
  SessionOutcome outcome;
  pReport->bFingerprint = settings.bFingerprint;
  pReport->vecFields = settings.vecFields;
  pReport->nSeconds = settings.nSeconds;
  pReport->nSimilarity = settings.nSimilarity;
  pReport->nNearFloor = settings.bFingerprint ? settings.nNearFloor : 0;
  pReport->bLoose = settings.bLoose;

  ProgressBar bar(!settings.bQuiet && isatty(STDERR_FILENO));
  StdoutSilencer silencer;

  // Tag text the file stores as Unicode is read as it is; a library without the
  // setting keeps its legacy reading.
  twintone_set_tag_text_mode(TWINTONE_TAGTEXT_AS_STORED);

  WalkSettings walk;
  walk.bRecursive = settings.bRecursive;
  walk.bFollowSymlinks = settings.bFollowSymlinks;
  walk.strSkipDir = settings.strSkipDir;
  walk.vecExclude = settings.vecExclude;
  walk.pbStop = &InterruptRequested();
  walk.pfnOnFolder = [&bar](const std::string& strFolder) { bar.Update(0, -1, strFolder); };
  outcome.nPathErrors = AddPathsToLibrary(
      settings.vecPaths, walk,
      [&bar](const std::string& strMessage) { PrintError(&bar, strMessage); }, pReport);

  // A pattern that left nothing out is most likely mistyped: the user is told, since
  // they may be counting on it to keep a folder out of an action.
  for (const std::string& strPattern : settings.vecExclude) {
    const std::string strReason = "excluded by " + strPattern;
    if (std::none_of(pReport->vecSkipped.begin(), pReport->vecSkipped.end(),
                     [&](const SkippedFile& skipped) { return skipped.strReason == strReason; })) {
      PrintError(&bar, "--exclude '" + strPattern +
                           "' matched nothing (it is matched against each path as given, the "
                           "path below the folder given, or without a slash a name)");
    }
  }

  if (InterruptRequested().load()) {
    outcome.bInterrupted = true;
    pReport->bPartial = true;
    int nLoaded = GetLoadCounts();
    pReport->nFilesLoaded = nLoaded > 0 ? nLoaded : 0;
    AccountForUngrouped(ReadFileOutcomes(), {}, pReport);
    pReport->nFilesSkipped = pReport->nFilesLoaded;
    DedupeDealloc();
    return outcome;
  }

  // The fingerprint cache, for fingerprint runs only; a cache that fails is reported
  // and the run goes on without it.
  MessageSink warn = [&bar](const std::string& strMessage) { PrintError(&bar, strMessage); };
  MessageSink info = settings.bVerbose ? warn : MessageSink();
  bool bCache = settings.bFingerprint && !settings.bNoCache && OpenCache(settings, *pReport, warn);
  std::vector<std::string> vecFilePaths;  // every file the run reached, for fingerprint lines

  Pipe endPipe;
  RunState state;
  state.fdEnd = endPipe.WriteFd();
  if (!ApplyLibrarySettings(settings, &bar)) return outcome;
  const FilingChoice filing = ChooseFiling(settings, std::max(0, GetLoadCounts()));
  if (!endPipe.Ok() || StartRunWithSignalsOnMainThread(&state, settings, filing.bIndexed) != 0) {
    PrintError(&bar, "the library could not start a run");
    if (bCache) CloseCache(warn, MessageSink());
    return outcome;
  }
  outcome.bStarted = true;
  if (settings.bFingerprint) {
    pReport->strFiling = filing.bIndexed ? "indexed" : "exact";
    pReport->strFilingReason = filing.strReason;
  }

  bool bQuitSent = false;
  bool bEnded = false;
  int nDone = 0;
  int nTotal = -1;
  std::vector<std::string> vecProgressed;
  while (!bEnded) {
    struct pollfd fds[2] = {{endPipe.ReadFd(), POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    int nReady = poll(fds, 2, 100);
    if (nReady < 0) nReady = 0;  // EINTR from a signal: a timeout like any other
    if (fds[1].revents & POLLIN) {
      char buffer[16];
      while (read(InterruptFd(), buffer, sizeof(buffer)) > 0) {
      }
    }
    if (InterruptRequested().load() && !bQuitSent) {
      QuitDedupeThread();
      bQuitSent = true;
      bar.PrintLine("twintone: stopping after the current file (Ctrl-C again quits at once)");
    }
    std::vector<std::pair<int, std::string>> vecFinished;
    std::string strCurrent;
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      vecFinished.swap(state.vecFinished);
      nDone = state.nDone;
      nTotal = state.nTotal;
      strCurrent = state.strCurrent;
    }
    for (const auto& finished : vecFinished) {
      if (settings.bVerbose) {
        bar.PrintLine("[" + std::to_string(finished.first) + "/" + std::to_string(nTotal) + "] " +
                      finished.second);
      }
      vecProgressed.push_back(finished.second);
      if (settings.bPrintFingerprints) vecFilePaths.push_back(finished.second);
    }
    bar.Update(nDone, nTotal, strCurrent);
    // The end byte is written after the last progress event was recorded, and after
    // the worker's last use of state: once it is read, state may go.
    if (nReady > 0 && (fds[0].revents & POLLIN)) bEnded = true;
  }
  bar.Finish();

  outcome.bInterrupted = bQuitSent;
  pReport->nFilesLoaded = nTotal > 0 ? nTotal : 0;
  pReport->nFilesScanned = nDone;
  pReport->bPartial = bQuitSent && nDone < pReport->nFilesLoaded;
  FileOutcomes mapOutcomes = ReadFileOutcomes();
  pReport->vecGroups = CopyGroups(mapOutcomes);
  if (!settings.bFingerprint) {
    // Tag groups agree on tags; how alike they sound is not known until measured.
    for (Group& group : pReport->vecGroups) {
      for (Member& member : group.vecMembers) member.fSimilarity = std::nanf("");
    }
  } else if (settings.nNearFloor > 0) {
    pReport->vecNearMisses = ReadNearMisses(pReport->vecGroups);
  }
  HashEqualSizes(&pReport->vecGroups, &InterruptRequested());
  AccountForUngrouped(mapOutcomes, vecProgressed, pReport);
  if (bCache) KeepMarkedApart(pReport);
  pReport->nFilesSkipped = 0;
  for (const SkippedFile& skipped : pReport->vecSkipped) {
    if (!skipped.bLeftOut) ++pReport->nFilesSkipped;
  }
  if (mapOutcomes.empty()) pReport->nFilesSkipped += pReport->nFilesLoaded - nDone;
  for (const std::string& strPath : vecFilePaths) {
    outcome.vecFingerprintLines.push_back(FingerprintLine(strPath, settings.nSeconds));
  }
  if (bCache) CloseCache(warn, info);
  DedupeDealloc();
  return outcome;
}

}  // namespace twintone_cli
