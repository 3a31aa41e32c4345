// The readable report, and the totals every report shares.
#include <cinttypes>
#include <set>
#include <utility>

#include "report.h"
#include "text_escape.h"

namespace twintone_cli {

int RunReport::Duplicates() const {
  int nDuplicates = 0;
  for (const Group& group : vecGroups) {
    if (!group.vecMembers.empty()) nDuplicates += static_cast<int>(group.vecMembers.size()) - 1;
  }
  return nDuplicates;
}

int64_t RunReport::BytesFreed() const {
  // A file counts once, and not when it is the very file that is kept (a second path
  // to it), nor when the member is a symbolic link: moving a link frees nothing.
  std::set<std::pair<uint64_t, uint64_t>> setCounted;
  int64_t nBytes = 0;
  for (const Group& group : vecGroups) {
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      const Member& member = group.vecMembers[i];
      bool bKnown = member.nDevice != 0 || member.nInode != 0;
      bool bFirstSighting = !bKnown || setCounted.insert({member.nDevice, member.nInode}).second;
      if (i == 0 || member.bSymlink || !bFirstSighting) continue;
      nBytes += member.nSizeBytes;
    }
  }
  return nBytes;
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

std::string FormatBytes(int64_t nBytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
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
  std::fprintf(pOut, "Grouped by tags: %s.\n", strFields.c_str());
}

void WriteGroup(const Group& group, size_t nNumber, size_t nTotal, FILE* pOut) {
  std::fprintf(pOut, "\nGroup %zu of %zu (%zu files)\n", nNumber, nTotal, group.vecMembers.size());
  for (size_t i = 0; i < group.vecMembers.size(); ++i) {
    const Member& member = group.vecMembers[i];
    std::string strBitrate =
        member.nBitrateKbps > 0 ? std::to_string(member.nBitrateKbps) + " kbit/s" : "? kbit/s";
    std::fprintf(pOut, "  %s %8s %12s %10s %6.1f%%  %s\n", i == 0 ? "keep *" : "      ",
                 FormatDuration(member.nDurationMs).c_str(), strBitrate.c_str(),
                 FormatBytes(member.nSizeBytes).c_str(), member.fSimilarity * 100.0f,
                 TerminalSafe(member.strPath).c_str());
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
  if (report.vecMoves.empty()) std::fprintf(pOut, "  nothing to move\n");
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

}  // namespace

void WriteTextReport(const RunReport& report, FILE* pOut) {
  WriteModeLine(report, pOut);
  if (report.bPartial) {
    std::fprintf(pOut, "PARTIAL RESULTS: stopped after %d of %d files.\n", report.nFilesScanned,
                 report.nFilesLoaded);
  }
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    WriteGroup(report.vecGroups[g], g + 1, report.vecGroups.size(), pOut);
  }
  if (report.vecGroups.empty()) std::fprintf(pOut, "\nNo duplicates found.\n");
  if (report.bMoveRequested) WriteMoves(report, pOut);

  int64_t nFreed = report.BytesFreed();
  std::fprintf(pOut,
               "\n%s%s scanned, %s skipped, %s, %s, %s (%" PRId64
               " bytes) freed by moving the duplicates.\n",
               report.bPartial ? "Partial summary: " : "Summary: ",
               Plural(report.nFilesScanned, "file", "files").c_str(),
               std::to_string(report.nFilesSkipped).c_str(),
               Plural(static_cast<int64_t>(report.vecGroups.size()), "group", "groups").c_str(),
               Plural(report.Duplicates(), "duplicate", "duplicates").c_str(),
               FormatBytes(nFreed).c_str(), nFreed);
}

}  // namespace twintone_cli
