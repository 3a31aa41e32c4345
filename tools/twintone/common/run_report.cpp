// The totals every report shares, and the units they are written in.
#include "common/run_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include "twintone_ext.h"

namespace twintone_cli {

bool Group::IsDuplicate(size_t i) const {
  return i > 0 && i < vecMembers.size() && !bUnsure && !vecMembers[i].bLeftAlone;
}

bool Group::IdenticalToKept(size_t i) const {
  if (i == 0 || i >= vecMembers.size() || vecMembers[0].bLeftAlone) return false;
  const std::string& strKept = vecMembers[0].strContentHash;
  return !strKept.empty() && vecMembers[i].strContentHash == strKept &&
         vecMembers[i].nSizeBytes == vecMembers[0].nSizeBytes;
}

int RunReport::Duplicates() const {
  int nDuplicates = 0;
  for (const Group& group : vecGroups) {
    for (size_t i = 1; i < group.vecMembers.size(); ++i) nDuplicates += group.IsDuplicate(i);
  }
  return nDuplicates;
}

namespace {

// The bytes of the duplicates bCounts picks. A file counts once, and not when it is
// the very file that is kept (a second path to it), nor when the member is a symbolic
// link or a file with other names (hard links): moving those frees nothing.
template <typename Picker>
int64_t DuplicateBytes(const std::vector<Group>& vecGroups, Picker bCounts) {
  std::set<std::pair<uint64_t, uint64_t>> setCounted;
  int64_t nBytes = 0;
  for (const Group& group : vecGroups) {
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      const Member& member = group.vecMembers[i];
      bool bKnown = member.nDevice != 0 || member.nInode != 0;
      bool bFirstSighting = !bKnown || setCounted.insert({member.nDevice, member.nInode}).second;
      if (!group.IsDuplicate(i) || member.bSymlink || member.nLinks > 1 || !bFirstSighting ||
          !bCounts(member)) {
        continue;
      }
      nBytes += member.nSizeBytes;
    }
  }
  return nBytes;
}

}  // namespace

int64_t RunReport::BytesFreed() const {
  return DuplicateBytes(vecGroups, [](const Member&) { return true; });
}

int64_t RunReport::BytesMoved() const {
  std::set<std::string> setMoved;
  for (const MoveRecord& move : vecMoves) {
    if (move.status == MoveStatus::kMoved) setMoved.insert(move.strFrom);
  }
  return DuplicateBytes(vecGroups,
                        [&](const Member& member) { return setMoved.count(member.strPath) != 0; });
}

int RunReport::SkippedCount(bool bLeftOut) const {
  int nCount = 0;
  for (const SkippedFile& skipped : vecSkipped) nCount += skipped.bLeftOut == bLeftOut ? 1 : 0;
  return nCount;
}

bool RunReport::IsScannedFile(const std::string& strPath) const {
  struct stat st;
  if (stat(strPath.c_str(), &st) != 0) return false;
  for (const ScannedFile& file : vecScanned) {
    if (file.nDevice == st.st_dev && file.nInode == st.st_ino) return true;
  }
  return false;
}

const char* StereoName(int nStereo) {
  switch (nStereo) {
    case TWINTONE_STEREO_TRUE:
      return "true";
    case TWINTONE_STEREO_MONO:
      return "mono";
    case TWINTONE_STEREO_DUAL_MONO:
      return "dual-mono";
    default:
      return "unknown";
  }
}

std::string QualitySummary(const Quality& quality) {
  if (!quality.bMeasured) return "-";
  char szText[64];
  std::string strText;
  if (quality.nBandwidthHz >= 0) {
    std::snprintf(szText, sizeof(szText), "%.1fk", quality.nBandwidthHz / 1000.0);
    strText = szText;
  } else {
    strText = "?k";
  }
  switch (quality.nStereo) {
    case TWINTONE_STEREO_TRUE:
      strText += " st";
      break;
    case TWINTONE_STEREO_MONO:
      strText += " mono";
      break;
    case TWINTONE_STEREO_DUAL_MONO:
      strText += " dual";
      break;
  }
  if (quality.bLossySource) strText += " lossy-src";
  if (quality.nClippedPpm >= kClippedPpm) strText += " clip";
  int nAdded = std::max(quality.nAddedLeadMs, quality.nAddedTrailMs);
  if (nAdded > kAddedSilenceMs) {
    std::snprintf(szText, sizeof(szText), " +%.1fs", nAdded / 1000.0);
    strText += szText;
  }
  return strText;
}

std::string FormatDuration(int nMilliseconds) {
  if (nMilliseconds <= 0) return "?";
  int nSeconds = nMilliseconds / 1000;
  char szText[32];
  if (nSeconds >= 3600) {
    std::snprintf(szText, sizeof(szText), "%d:%02d:%02d", nSeconds / 3600, nSeconds / 60 % 60,
                  nSeconds % 60);
  } else {
    std::snprintf(szText, sizeof(szText), "%d:%02d", nSeconds / 60, nSeconds % 60);
  }
  return szText;
}

std::string FormatMatch(float fSimilarity) {
  double fTenths = std::floor(static_cast<double>(fSimilarity) * 1000.0 + 1e-3);
  if (!std::isfinite(fTenths)) return "?";
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.1f%%", fTenths / 10.0);
  return szText;
}

std::string CountOf(int64_t nCount, const std::string& strOne, const std::string& strMany) {
  return std::to_string(nCount) + " " + (nCount == 1 ? strOne : strMany);
}

std::string FormatBytes(int64_t nBytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  char szText[32];
  if (nBytes < 1024) {
    std::snprintf(szText, sizeof(szText), "%" PRId64 " B", nBytes);
    return szText;
  }
  double fValue = static_cast<double>(nBytes) / 1024.0;
  size_t nUnit = 0;
  while (fValue >= 1024.0 && nUnit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
    fValue /= 1024.0;
    ++nUnit;
  }
  std::snprintf(szText, sizeof(szText), "%.1f %s", fValue, kUnits[nUnit]);
  return szText;
}

}  // namespace twintone_cli
