// What a run found, as the command keeps it after the library's records are gone: the
// groups with their members, the files left out or skipped, and what an action did.
// Every stage reads it; the scan fills it, the keeper orders it, the actions add to it.
#ifndef TWINTONE_TOOLS_COMMON_RUN_REPORT_H
#define TWINTONE_TOOLS_COMMON_RUN_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>


namespace twintone_cli {

// What a member sounds like, as the library measured it (twintone_quality in
// twintone_ext.h, where each field is explained); bMeasured false leaves the rest
// unknown. -1 is unknown in every figure.
struct Quality {
  bool bMeasured = false;
  bool bLossyEdge = false;     // the spectrum ends in a lossy encoder's low-pass edge
  bool bLossySource = false;   // a lossless codec holding a lossy source
  bool bFromStore = false;     // read from the store; not reported, as runs should compare
  int nSampleRate = 0;         // Hz; 0 unknown
  int nChannels = 0;           // 0 unknown
  int nBandwidthHz = -1;
  int nStereo = 0;             // TWINTONE_STEREO_*
  int nClippedPpm = -1;
  int nLeadSilenceMs = -1;
  int nTrailSilenceMs = -1;
  int nAddedLeadMs = -1;       // silence beyond the least in the group
  int nAddedTrailMs = -1;
  int nMeasuredMs = 0;
};

// What counts as clipped and as added silence, for the reports and the keeper. Between
// the two clipping figures a copy is neither clean nor clipped, so that noise in the
// measure never decides; the same for silence (lossy codecs pad a few tens of ms).
constexpr int kClippedPpm = 1000;  // at least this: audibly clipped
constexpr int kCleanPpm = 100;     // below this: clean
constexpr int kAddedSilenceMs = 300;   // more than this at an edge: silence was added
constexpr int kNoAddedSilenceMs = 50;  // less than this: none was

// "true", "dual-mono", "mono" or "unknown", for nStereo.
const char* StereoName(int nStereo);
// The compact column of the text report: "19.8k st", "11.0k mono", "16.0k st lossy-src",
// "+2.0s", "clip"; "-" when not measured.
std::string QualitySummary(const Quality& quality);

// One group member, copied out of the library's record.
struct Member {
  std::string strPath;  // bytes as the library stored them
  std::string strTitle;
  std::string strArtist;
  std::string strAlbum;
  int64_t nSizeBytes = 0;  // from the file system; the record's 32-bit size if that fails
  int nDurationMs = 0;
  int nBitrateKbps = 0;
  // 0..1 against the member the library put first (the group's reference), or, for a
  // tag group checked by ear, against the kept copy; NaN when not measured (tag groups
  // that were not checked). The reports give it in percent, or "same tags".
  float fSimilarity = 0.0f;
  // The file's identity from lstat, 0 and 0 when unknown; a symbolic link frees nothing.
  uint64_t nDevice = 0;
  uint64_t nInode = 0;
  bool bSymlink = false;
  // The file's names on its file system (st_nlink); with more than one, another name
  // keeps its bytes, so acting on this one frees nothing.
  uint64_t nLinks = 1;
  // Why this member looks damaged and so is never kept over a whole copy ("truncated:
  // ..."); empty when it looks whole.
  std::string strPassedOver;
  // The file's format ("MP3", "FLAC"...) and whether it is lossless, for reports and
  // the keeper policies; empty when unknown.
  std::string strFormat;
  bool bLossless = false;
  int64_t nModifiedNs = 0;  // modification time, nanoseconds since the epoch; 0 unknown
  int nDecodedMs = -1;      // fingerprint mode: audio decoded; -1 unknown
  // A 128-bit hash of the file's bytes in hex, worked out only when another member of
  // the group has the same size; empty otherwise or when the file could not be read.
  std::string strContentHash;
  // A plan left this copy alone: it stays where it is and is neither kept first nor a
  // duplicate. Only --apply sets it; such members come after the others.
  bool bLeftAlone = false;
  Quality quality;          // unmeasured when the run did not listen
  // Fingerprint mode: the fingerprint's identity, by which a copy marked "not a
  // duplicate" is known again (scan/distinct_marks.h); 0 unknown.
  uint64_t nPrintId = 0;
};

// Members in the library's order until ChooseKeepers (keeper.h) orders them keeper
// first, best first.
struct Group {
  std::vector<Member> vecMembers;
  // One line saying why the first member is kept ("kept: FLAC, lossless; others
  // lossy"); empty when not worked out.
  std::string strKeepReason;
  // Every copy looks damaged, so it is unclear which one is good: all are kept, none
  // is a duplicate, nothing of the group may be moved.
  bool bUnsure = false;

  // Whether member i is a duplicate that --apply or an action would act on: not the
  // first, not left alone, and the group not unsure.
  bool IsDuplicate(size_t i) const;
  // Whether member i (not the first) has the very bytes of the first member.
  bool IdenticalToKept(size_t i) const;

  // Tag groups checked by ear (decide/tag_confirm.h): members whose tags agree with the
  // kept copy's but whose audio does not match it ("same tags, different recording").
  // Listed, never acted on, and not counted as duplicates.
  std::vector<Member> vecDifferent;
};

// Two files that scored above the near-miss floor but not above the threshold: not
// grouped, listed so that a user sees what a lower threshold would add; never acted on.
struct NearMiss {
  std::string strPath;
  std::string strOther;  // the founder of the group strPath came nearest to
  float fSimilarity = 0.0f;
};

// A file the command examined without grouping it: left out before the library saw it
// (not audio, a link, hidden, a path too long, unreadable) or skipped by the run (the
// library's reason). Every examined file is either in a group, unique, or here, once.
struct SkippedFile {
  std::string strPath;
  std::string strReason;  // short English text
  bool bLeftOut = false;  // true: never handed to the library
};

// A file the scan handed to the library, as it was then (lstat; a link followed by
// --follow-symlinks is its target). Plans and output files are checked against these.
struct ScannedFile {
  std::string strPath;  // as handed to the library
  uint64_t nDevice = 0;
  uint64_t nInode = 0;
  int64_t nSize = 0;
  int64_t nModifiedNs = 0;
};

// kMoved: done (moved, trashed or linked); kSkipped: left where it is, because the
// check just before the action found a reason (strError says which).
enum class MoveStatus { kMoved, kWouldMove, kFailed, kSkipped };

struct MoveRecord {
  std::string strFrom;
  std::string strTo;  // the new place (the kept copy for a link); empty when none
  MoveStatus status = MoveStatus::kFailed;
  std::string strError;  // set for kFailed and kSkipped
};

struct RunReport {
  bool bFingerprint = false;
  std::vector<std::string> vecFields;  // text mode
  int nSeconds = 0;                    // fingerprint mode
  int nSimilarity = 0;
  int nNearFloor = 0;                  // fingerprint mode: percent; 0 when not asked
  std::vector<NearMiss> vecNearMisses;  // strongest first

  bool bPartial = false;  // the run was stopped before it reached every file
  int nFilesLoaded = 0;   // files the library took in
  int nFilesScanned = 0;  // files the run went through
  int nFilesSkipped = 0;  // entries of vecSkipped not left out (the reports count those)
  std::vector<Group> vecGroups;
  std::vector<std::string> vecUnique;    // filed, with no duplicate
  std::vector<SkippedFile> vecSkipped;   // see SkippedFile
  std::vector<ScannedFile> vecScanned;   // every file handed to the library, in order
  bool bSubfoldersNotSearched = false;   // a given folder held folders and -r was off
  std::string strKeepPolicy = "best";    // --keep as given, for the reports
  bool bLoose = false;                   // tag mode: --loose
  // --apply: the groups come from a plan; the scan's facts from its record.
  bool bFromPlan = false;
  // Fingerprint mode: "exact" or "indexed", and why (FilingChoice::strReason); empty
  // when no run started.
  std::string strFiling;
  std::string strFilingReason;
  int nKeptApart = 0;  // pairs the library grouped that were marked not duplicates

  bool bMoveRequested = false;  // any action: move, trash or link
  bool bDryRun = false;
  std::string strMoveDir;
  std::vector<MoveRecord> vecMoves;
  std::string strAction;   // "move" (also when empty), "trash", "link-hard", "link-symbolic"
  std::string strJournal;  // the action's journal; empty for a dry run
  std::string strActionError;  // why the action as a whole was refused; empty when it ran

  // Members beyond the first, over all groups but unsure ones.
  int Duplicates() const;
  // Bytes that moving every member but the first of each group but the unsure ones
  // would free (symbolic links and repeated appearances of one file count nothing).
  int64_t BytesFreed() const;
  // Of those, the bytes of the members that were moved.
  int64_t BytesMoved() const;
  // Entries of vecSkipped that were (true) or were not (false) left out.
  int SkippedCount(bool bLeftOut) const;
  // Whether the file at strPath (a link followed) is one of vecScanned.
  bool IsScannedFile(const std::string& strPath) const;
};

// "3:07", "1:02:03"; "?" for 0.
std::string FormatDuration(int nMilliseconds);
// "812 B", "4.2 MiB", "1.3 GiB" (powers of 1024, one decimal). The review page's
// script writes sizes the same way.
std::string FormatBytes(int64_t nBytes);
// Similarity 0..1 as "97.3%": one decimal, cut rather than rounded, so that only a
// full match reads "100.0%". The review page's script does the same.
std::string FormatMatch(float fSimilarity);
// "1 symbolic link", "142 symbolic links".
std::string CountOf(int64_t nCount, const std::string& strOne, const std::string& strMany);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_RUN_REPORT_H
