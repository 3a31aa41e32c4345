// The readable report.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "report/report.h"
#include "common/text_escape.h"

namespace twintone_cli {

namespace {

std::string Plural(int64_t nCount, const char* pszOne, const char* pszMany) {
  return std::to_string(nCount) + " " + (nCount == 1 ? pszOne : pszMany);
}

void WriteModeLine(const RunReport& report, FILE* pOut) {
  if (report.bFingerprint) {
    std::fprintf(pOut, "Grouped by fingerprint: %s, similarity at least %d%%.\n",
                 report.nSeconds == 0 ? "whole files"
                                      : (std::to_string(report.nSeconds) + " s per file").c_str(),
                 report.nSimilarity);
    return;
  }
  std::string strFields;
  for (const std::string& strField : report.vecFields) {
    strFields += (strFields.empty() ? "" : ", ") + strField;
  }
  std::fprintf(pOut, "Grouped by tags%s: %s.\n", report.bLoose ? " (case and blanks ignored)" : "",
               strFields.c_str());
}

// One member's row; with bMatch a similarity column ("?" where none was measured).
void WriteMemberRow(const char* pszMark, const Member& member, bool bMatch, FILE* pOut) {
  std::string strBitrate =
      member.nBitrateKbps > 0 ? std::to_string(member.nBitrateKbps) + " kbit/s" : "? kbit/s";
  char szMatch[16] = "";
  if (bMatch && std::isfinite(member.fSimilarity)) {
    std::snprintf(szMatch, sizeof(szMatch), " %6.1f%%", member.fSimilarity * 100.0f);
  } else if (bMatch) {
    std::snprintf(szMatch, sizeof(szMatch), " %7s", "?");
  }
  std::fprintf(pOut, "  %-6s %7s %12s %11s  %-8s%s  %s\n", pszMark,
               FormatDuration(member.nDurationMs).c_str(), strBitrate.c_str(),
               FormatBytes(member.nSizeBytes).c_str(),
               member.strFormat.empty() ? "?" : member.strFormat.c_str(), szMatch,
               TerminalSafe(member.strPath).c_str());
}

void WriteGroup(const Group& group, bool bFingerprint, size_t nNumber, size_t nTotal,
                FILE* pOut) {
  std::fprintf(pOut, "\nGroup %zu of %zu (%zu files): %s\n", nNumber, nTotal,
               group.vecMembers.size() + group.vecDifferent.size(), group.strKeepReason.c_str());
  // Only what was heard has a similarity: fingerprint groups, and tag groups once
  // checked by ear.
  bool bMatch = bFingerprint || !group.vecDifferent.empty();
  for (const Member& member : group.vecMembers) bMatch |= std::isfinite(member.fSimilarity) != 0;
  std::fprintf(pOut, "  %-6s %7s %12s %11s  %-8s%s  %s\n", "", "Length", "Bitrate", "Size",
               "Format", bMatch ? "   Match" : "", "Path");
  for (size_t i = 0; i < group.vecMembers.size(); ++i) {
    const Member& member = group.vecMembers[i];
    WriteMemberRow(group.bUnsure ? "keep ?" : (i == 0 ? "keep *" : ""), member, bMatch, pOut);
    if (!member.strPassedOver.empty()) {
      std::fprintf(pOut, "  %-6s   passed over, %s\n", "",
                   TerminalSafe(member.strPassedOver).c_str());
    }
  }
  if (group.vecDifferent.empty()) return;
  std::fprintf(pOut, "  same tags, different recording (never acted on):\n");
  for (const Member& member : group.vecDifferent) WriteMemberRow("differ", member, bMatch, pOut);
}

void WriteNearMisses(const RunReport& report, FILE* pOut) {
  if (report.nNearFloor <= 0) return;
  std::fprintf(pOut,
               "\nNear misses (more than %d%% alike but not more than %d%%; not grouped, never "
               "acted on):\n",
               report.nNearFloor, report.nSimilarity);
  if (report.vecNearMisses.empty()) std::fprintf(pOut, "  none\n");
  for (const NearMiss& near : report.vecNearMisses) {
    std::fprintf(pOut, "  %6.1f%%  %s\n  %7s  %s\n", near.fSimilarity * 100.0f,
                 TerminalSafe(near.strPath).c_str(), "~", TerminalSafe(near.strOther).c_str());
  }
}

void WriteMoves(const RunReport& report, FILE* pOut) {
  const std::string& strAction = report.strAction;
  bool bLink = strAction.compare(0, 4, "link") == 0;
  if (strAction == "trash" || bLink) {
    std::fprintf(pOut, "\n%s%s:\n",
                 bLink ? (strAction == "link-hard" ? "Replaced by hard links"
                                                   : "Replaced by symbolic links")
                       : "To the trash",
                 report.bDryRun ? " (dry run, nothing changed)" : "");
  } else {
    std::fprintf(pOut, "\n%s into %s:\n",
                 report.bDryRun ? "Moves (dry run, nothing moved)" : "Moves",
                 TerminalSafe(report.strMoveDir).c_str());
  }
  if (!report.strActionError.empty()) {
    std::fprintf(pOut, "  REFUSED    %s; nothing was done\n", report.strActionError.c_str());
  } else if (report.vecMoves.empty()) {
    std::fprintf(pOut, "  nothing to move\n");
  }
  for (const MoveRecord& move : report.vecMoves) {
    switch (move.status) {
      case MoveStatus::kMoved:
      case MoveStatus::kWouldMove:
        std::fprintf(pOut, "  %s %s -> %s\n",
                     move.status == MoveStatus::kMoved ? (bLink ? "linked    " : "moved     ")
                                                       : (bLink ? "would link" : "would move"),
                     TerminalSafe(move.strFrom).c_str(), TerminalSafe(move.strTo).c_str());
        break;
      case MoveStatus::kFailed:
        std::fprintf(pOut, "  FAILED     %s: %s (left in place)\n",
                     TerminalSafe(move.strFrom).c_str(), move.strError.c_str());
        break;
      case MoveStatus::kSkipped:
        std::fprintf(pOut, "  skipped    %s: %s\n", TerminalSafe(move.strFrom).c_str(),
                     move.strError.c_str());
        break;
    }
  }
}

// "; 5 left out (3 not audio, 2 links)", or "" when nothing was left out.
std::string LeftOutText(const RunReport& report) {
  std::map<std::string, int> mapReasons;
  for (const SkippedFile& skipped : report.vecSkipped) {
    if (skipped.bLeftOut) ++mapReasons[skipped.strReason];
  }
  if (mapReasons.empty()) return "";
  std::string strReasons;
  for (const auto& reason : mapReasons) {
    strReasons += (strReasons.empty() ? "" : ", ") + std::to_string(reason.second) + " " +
                  reason.first;
  }
  return "; " + std::to_string(report.SkippedCount(true)) + " left out (" + strReasons + ")";
}

void WriteSummary(const RunReport& report, FILE* pOut) {
  int nSkipped = report.SkippedCount(false);
  std::fprintf(pOut, "\n%s%s scanned: %s with %s, %d unique, %d skipped%s%s.\n",
               report.bPartial ? "Partial summary: " : "Summary: ",
               Plural(report.nFilesScanned, "file", "files").c_str(),
               Plural(static_cast<int64_t>(report.vecGroups.size()), "group", "groups").c_str(),
               Plural(report.Duplicates(), "duplicate", "duplicates").c_str(),
               static_cast<int>(report.vecUnique.size()), nSkipped,
               nSkipped > 0 ? " (listed below)" : "", LeftOutText(report).c_str());
  bool bMoved = false;
  for (const MoveRecord& move : report.vecMoves) bMoved |= move.status == MoveStatus::kMoved;
  int64_t nBytes = bMoved ? report.BytesMoved() : report.BytesFreed();
  std::fprintf(pOut, "Moving the duplicates %s %s (%" PRId64 " bytes).\n",
               bMoved ? "freed" : "would free", FormatBytes(nBytes).c_str(), nBytes);
  if (report.bSubfoldersNotSearched) {
    std::fprintf(pOut, "Subfolders were not searched; add -r to search them too.\n");
  }
}

}  // namespace

void WriteTextReport(const RunReport& report, FILE* pOut) {
  WriteModeLine(report, pOut);
  std::fprintf(pOut, "Keeping by: %s.\n", report.strKeepPolicy.c_str());
  if (report.bPartial) {
    std::fprintf(pOut, "PARTIAL RESULTS: stopped after %d of %d files.\n", report.nFilesScanned,
                 report.nFilesLoaded);
  }
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    WriteGroup(report.vecGroups[g], report.bFingerprint, g + 1, report.vecGroups.size(), pOut);
  }
  if (report.vecGroups.empty()) std::fprintf(pOut, "\nNo duplicates found.\n");
  WriteNearMisses(report, pOut);
  if (report.bMoveRequested) WriteMoves(report, pOut);
  WriteSummary(report, pOut);

  if (report.vecSkipped.empty()) return;
  std::vector<const SkippedFile*> vecSorted;
  for (const SkippedFile& skipped : report.vecSkipped) vecSorted.push_back(&skipped);
  std::stable_sort(vecSorted.begin(), vecSorted.end(),
                   [](const SkippedFile* a, const SkippedFile* b) { return a->strPath < b->strPath; });
  std::fprintf(pOut, "\nSkipped (%zu):\n", vecSorted.size());
  for (const SkippedFile* pSkipped : vecSorted) {
    const SkippedFile& skipped = *pSkipped;
    std::fprintf(pOut, "  %s: %s%s\n", TerminalSafe(skipped.strPath).c_str(),
                 skipped.strReason.c_str(), skipped.bLeftOut ? " (left out)" : "");
  }
}

}  // namespace twintone_cli
