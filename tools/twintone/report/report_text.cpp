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

// The page is meant for a terminal of 100 columns: the tag lines are cut to fit it.
constexpr size_t kTextColumns = 100;

// The head of strText (made TerminalSafe) that fits in nColumns, ended by "..." when cut.
std::string HeadToFit(const std::string& strText, size_t nColumns) {
  std::string strSafe = TerminalSafe(strText);
  if (TextColumns(strSafe) <= nColumns) return strSafe;
  while (!strSafe.empty() && TextColumns(strSafe + "...") > nColumns) {
    size_t nEnd = strSafe.size() - 1;  // back to the lead byte of the last character
    while (nEnd > 0 && (static_cast<unsigned char>(strSafe[nEnd]) & 0xC0) == 0x80) --nEnd;
    strSafe.resize(nEnd);
  }
  return strSafe + "...";
}

// "Title / Artist / Album", "?" for an empty tag; "no tags" when all are empty.
std::string TagsText(const Member& member) {
  if (member.strTitle.empty() && member.strArtist.empty() && member.strAlbum.empty()) {
    return "no tags";
  }
  auto tag = [](const std::string& strTag) { return strTag.empty() ? std::string("?") : strTag; };
  return tag(member.strTitle) + " / " + tag(member.strArtist) + " / " + tag(member.strAlbum);
}

bool SameTags(const Group& group) {
  for (const Member& member : group.vecMembers) {
    const Member& first = group.vecMembers.front();
    if (member.strTitle != first.strTitle || member.strArtist != first.strArtist ||
        member.strAlbum != first.strAlbum) {
      return false;
    }
  }
  return true;
}

// A second line under a copy, indented past the mark column and cut to the page.
void WriteNote(const std::string& strNote, FILE* pOut) {
  std::fprintf(pOut, "         %s\n", HeadToFit(strNote, kTextColumns - 9).c_str());
}

// A group: its heading (with the tags when every copy has the same), then a row per
// copy, each followed by what sets it apart: its own tags, the same bytes as the kept
// copy, why it was passed over.
void WriteGroup(const Group& group, bool bFingerprint, size_t nNumber, size_t nTotal,
                FILE* pOut) {
  std::fprintf(pOut, "\nGroup %zu of %zu (%zu files): %s\n", nNumber, nTotal,
               group.vecMembers.size() + group.vecDifferent.size(), group.strKeepReason.c_str());
  bool bSameTags = SameTags(group);
  if (bSameTags && !group.vecMembers.empty()) {
    std::fprintf(pOut, "  %s\n", HeadToFit(TagsText(group.vecMembers[0]), kTextColumns - 2).c_str());
  }
  // Only what was heard has a similarity: fingerprint groups, and tag groups whose
  // check by ear set a copy apart ("?" where a copy could not be compared).
  // Quality: what the run measured, as QualitySummary writes it ("19.8k st").
  const bool bMatch = bFingerprint || !group.vecDifferent.empty();
  auto match = [&](const Member& member) {
    char szMatch[16] = "";
    if (bMatch) {
      std::snprintf(szMatch, sizeof(szMatch), " %6s",
                    std::isfinite(member.fSimilarity) ? FormatMatch(member.fSimilarity).c_str()
                                                      : "?");
    }
    return std::string(szMatch);
  };
  auto facts = [&](const char* pszMark, const Member& member) {
    std::string strBitrate = member.nBitrateKbps > 0 ? std::to_string(member.nBitrateKbps) : "?";
    char szFacts[160];
    std::snprintf(szFacts, sizeof(szFacts), "  %-6s %7s %6s %9s %-7s %-10s%s", pszMark,
                  FormatDuration(member.nDurationMs).c_str(), strBitrate.c_str(),
                  FormatBytes(member.nSizeBytes).c_str(),
                  member.strFormat.empty() ? "?" : member.strFormat.c_str(),
                  QualitySummary(member.quality).c_str(), match(member).c_str());
    return std::string(szFacts);
  };
  // A row per copy while every path fits beside its facts within the page; otherwise
  // each copy's path goes on a line of its own under its facts, as the first of its
  // notes. A path is never cut: one longer than the page runs past it.
  bool bOwnLine = false;
  for (const auto* pvec : {&group.vecMembers, &group.vecDifferent}) {
    for (const Member& member : *pvec) {
      bOwnLine = bOwnLine || facts("", member).size() + 2 +
                                     TextColumns(TerminalSafe(member.strPath)) > kTextColumns;
    }
  }
  std::fprintf(pOut, "  %-6s %7s %6s %9s %-7s %-10s%s%s\n", "", "Length", "kbit/s", "Size",
               "Format", "Quality", bMatch ? "  Match" : "", bOwnLine ? "" : "  Path");
  auto row = [&](const char* pszMark, const Member& member) {
    std::string strPath = TerminalSafe(member.strPath);
    if (bOwnLine) {
      std::fprintf(pOut, "%s\n         %s\n", facts(pszMark, member).c_str(), strPath.c_str());
    } else {
      std::fprintf(pOut, "%s  %s\n", facts(pszMark, member).c_str(), strPath.c_str());
    }
  };
  for (size_t i = 0; i < group.vecMembers.size(); ++i) {
    const Member& member = group.vecMembers[i];
    row(member.bLeftAlone ? "leave"
        : group.bUnsure   ? "keep ?"
        : i == 0          ? "keep *"
                          : "",
        member);
    if (!bSameTags) WriteNote(TagsText(member), pOut);
    if (group.IdenticalToKept(i)) WriteNote("identical: the same bytes as the kept copy", pOut);
    if (!member.strPassedOver.empty()) WriteNote("passed over, " + member.strPassedOver, pOut);
  }
  if (group.vecDifferent.empty()) return;
  std::fprintf(pOut, "  same tags, different recording (never acted on):\n");
  for (const Member& member : group.vecDifferent) row("differ", member);
}

void WriteNearMisses(const RunReport& report, FILE* pOut) {
  if (report.nNearFloor <= 0) return;
  std::fprintf(pOut,
               "\nNear misses (more than %d%% alike but not more than %d%%; not grouped, never "
               "acted on):\n",
               report.nNearFloor, report.nSimilarity);
  if (report.vecNearMisses.empty()) std::fprintf(pOut, "  none\n");
  for (const NearMiss& near : report.vecNearMisses) {
    std::fprintf(pOut, "  %7s  %s\n  %7s  %s\n", FormatMatch(near.fSimilarity).c_str(),
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

// A reason a file was left out, as a count of them: "1 symbolic link", "2 symbolic
// links". Reasons naming another file are counted together.
std::string ReasonCount(const std::string& strReason, int nCount) {
  static const std::map<std::string, std::string> kPlurals = {
      {"symbolic link", "symbolic links"},
      {"broken symbolic link", "broken symbolic links"},
      {"hidden folder", "hidden folders"},
      {"empty file", "empty files"},
      {"not a regular file", "not regular files"},
      {"second name of a file", "second names of files"}};
  auto it = kPlurals.find(strReason);
  return CountOf(nCount, strReason, it != kPlurals.end() ? it->second : strReason);
}

// "5 left out (3 not audio, 2 symbolic links)", or "" when nothing was left out.
std::string LeftOutText(const RunReport& report) {
  std::map<std::string, int> mapReasons;
  for (const SkippedFile& skipped : report.vecSkipped) {
    if (!skipped.bLeftOut) continue;
    bool bSecondName = skipped.strReason.compare(0, 13, "same file as ") == 0;
    ++mapReasons[bSecondName ? "second name of a file" : skipped.strReason];
  }
  if (mapReasons.empty()) return "";
  std::string strReasons;
  for (const auto& reason : mapReasons) {
    strReasons += (strReasons.empty() ? "" : ", ") + ReasonCount(reason.first, reason.second);
  }
  return std::to_string(report.SkippedCount(true)) + " left out (" + strReasons + ")";
}

// What the action did to the space the duplicates took, in words that hold: the trash
// frees nothing until it is emptied.
void WriteSpaceLine(const RunReport& report, FILE* pOut) {
  int nDone = 0;
  for (const MoveRecord& move : report.vecMoves) nDone += move.status == MoveStatus::kMoved;
  int64_t nBytes = nDone > 0 ? report.BytesMoved() : report.BytesFreed();
  std::string strBytes = FormatBytes(nBytes) + " (" + std::to_string(nBytes) + " bytes)";
  if (nDone == 0) {
    std::fprintf(pOut, "Moving the duplicates would free %s.\n", strBytes.c_str());
  } else if (report.strAction == "trash") {
    std::fprintf(pOut, "Moved to the trash: %s, freed when it is emptied.\n", strBytes.c_str());
  } else if (report.strAction == "link-hard" || report.strAction == "link-symbolic") {
    bool bHard = report.strAction == "link-hard";
    // The replaced copies wait in the trash, so the space comes free when it is emptied.
    std::fprintf(pOut, "Replaced by %s: %s, freed when the trash is emptied.\n",
                 CountOf(nDone, bHard ? "hard link" : "symbolic link",
                         bHard ? "hard links" : "symbolic links").c_str(),
                 strBytes.c_str());
  } else {
    std::fprintf(pOut, "Moving the duplicates freed %s.\n", strBytes.c_str());
  }
}

void WriteSummary(const RunReport& report, FILE* pOut) {
  int nSkipped = report.SkippedCount(false);
  // Two lines, so the summary stays within the page's width.
  std::fprintf(pOut, "\n%s%s %s: %s with %s, %d unique.\n",
               report.bPartial ? "Partial summary: " : "Summary: ",
               CountOf(report.nFilesScanned, "file", "files").c_str(),
               report.bFromPlan ? "in the scan" : "scanned",
               CountOf(static_cast<int64_t>(report.vecGroups.size()), "group", "groups").c_str(),
               CountOf(report.Duplicates(), "duplicate", "duplicates").c_str(),
               static_cast<int>(report.vecUnique.size()));
  std::string strLeftOut = LeftOutText(report);
  std::fprintf(pOut, "%d skipped%s%s%s.\n", nSkipped, nSkipped > 0 ? " (listed below)" : "",
               strLeftOut.empty() ? "" : "; ", strLeftOut.c_str());
  WriteSpaceLine(report, pOut);
  if (!report.strFiling.empty()) {
    std::fprintf(pOut, "%s filing: %s.\n", report.strFiling == "exact" ? "Exact" : "Indexed",
                 report.strFilingReason.c_str());
  }
  if (report.nKeptApart > 0) {
    std::fprintf(pOut,
                 "%s marked not duplicates kept apart (--forget-distinct forgets the marks).\n",
                 CountOf(report.nKeptApart, "pair", "pairs").c_str());
  }
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
  int nSkipped = report.SkippedCount(false), nLeftOut = report.SkippedCount(true);
  if (nSkipped > 0 && nLeftOut > 0) {
    std::fprintf(pOut, "\nSkipped (%d) and left out (%d):\n", nSkipped, nLeftOut);
  } else {
    std::fprintf(pOut, "\n%s (%d):\n", nSkipped > 0 ? "Skipped" : "Left out", nSkipped + nLeftOut);
  }
  for (const SkippedFile* pSkipped : vecSorted) {
    const SkippedFile& skipped = *pSkipped;
    std::fprintf(pOut, "  %s: %s%s\n", TerminalSafe(skipped.strPath).c_str(),
                 skipped.strReason.c_str(), skipped.bLeftOut ? " (left out)" : "");
  }
}

}  // namespace twintone_cli
