// Reports for scripts. Field names are part of the command's interface: add fields,
// never rename or drop them, and raise kSchemaVersion when a meaning changes. The
// layouts are described in docs/reports.md and checked by docs/report.schema.json.
//
// JSON: one object: tool, version, schema_version, mode ("tags" | "fingerprint"),
//   fields and loose (tags) or seconds and similarity_percent (fingerprint),
//   keep_policy, partial, subfolders_not_searched, summary {...}, groups [{group, keep_reason, unsure, members
//   [{keep, path, path_hex?, title, artist, album, format, lossless, duration_ms,
//   bitrate_kbps, size_bytes, modified_ns, similarity? (percent, fingerprint mode),
//   decoded_ms?, passed_over?}]}], files [{path, path_hex?, outcome, group?, reason?,
//   left_out?}] (every file examined, once, in path order), and with
//   an action: moves {action, dir, journal, dry_run, items [{from, from_hex?, to,
//   to_hex?, status ("moved" | "would_move" | "failed" | "skipped"), error?}], error?
//   (why the action as a whole was refused)}.
//   Text is UTF-8; a path that is not valid UTF-8 is given with U+FFFD in "path" and
//   exactly, as hex of its bytes, in "path_hex" (likewise from_hex, to_hex).
// CSV: a header row, then one row per file examined: group members in group order,
//   then unique files, then skipped ones; path_hex is always a column and empty when
//   the path is valid UTF-8; cells that do not apply to a row are empty.
#include <cinttypes>
#include <algorithm>
#include <cmath>
#include <map>

#include "report/report.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

// The layout's version, raised when a field's meaning changes or one goes away; the
// schema in docs/report.schema.json carries the same number.
constexpr int kSchemaVersion = 1;

// Similarity 0..1 as a percentage with two decimals.
std::string PercentText(float fValue) {
  if (!std::isfinite(fValue)) return "null";
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.2f", static_cast<double>(fValue) * 100.0);
  return szText;
}

// One line per examined file: what became of it.
struct FileLine {
  const std::string* pstrPath;
  const char* pszOutcome;  // "kept", "duplicate", "unique", "skipped"
  size_t nGroup;           // 1-based; 0 for none
  size_t nMember;          // 1-based; 0 for none
  const Member* pMember;
  const SkippedFile* pSkipped;
};

// Group members in group order, then unique files, then skipped ones.
std::vector<FileLine> FileLines(const RunReport& report) {
  std::vector<FileLine> vecLines;
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      bool bKept = i == 0 || group.bUnsure;
      vecLines.push_back({&group.vecMembers[i].strPath, bKept ? "kept" : "duplicate", g + 1, i + 1,
                          &group.vecMembers[i], nullptr});
    }
  }
  for (const std::string& strPath : report.vecUnique) {
    vecLines.push_back({&strPath, "unique", 0, 0, nullptr, nullptr});
  }
  for (const SkippedFile& skipped : report.vecSkipped) {
    vecLines.push_back({&skipped.strPath, "skipped", 0, 0, nullptr, &skipped});
  }
  return vecLines;
}

// ,"<name>":"<text>" and, when the bytes are not UTF-8, ,"<name>_hex":"<hex>".
std::string JsonPathFields(const char* pszName, const std::string& strPath) {
  std::string strOut = std::string("\"") + pszName + "\": " + JsonString(strPath);
  if (!IsValidUtf8(strPath)) {
    strOut += std::string(", \"") + pszName + "_hex\": \"" + HexBytes(strPath) + "\"";
  }
  return strOut;
}

const char* MoveStatusName(MoveStatus status) {
  switch (status) {
    case MoveStatus::kMoved:
      return "moved";
    case MoveStatus::kWouldMove:
      return "would_move";
    case MoveStatus::kFailed:
      return "failed";
    case MoveStatus::kSkipped:
      return "skipped";
  }
  return "failed";
}

void WriteJsonMember(const Member& member, bool bKeep, bool bFingerprint, FILE* pOut) {
  std::fprintf(pOut,
               "        {\"keep\": %s, %s, \"title\": %s, \"artist\": %s, \"album\": %s, "
               "\"format\": %s, \"lossless\": %s, \"duration_ms\": %d, \"bitrate_kbps\": %d, "
               "\"size_bytes\": %" PRId64 ", \"modified_ns\": %" PRId64,
               bKeep ? "true" : "false", JsonPathFields("path", member.strPath).c_str(),
               JsonString(member.strTitle).c_str(), JsonString(member.strArtist).c_str(),
               JsonString(member.strAlbum).c_str(), JsonString(member.strFormat).c_str(),
               member.bLossless ? "true" : "false", member.nDurationMs, member.nBitrateKbps,
               member.nSizeBytes, member.nModifiedNs);
  if (bFingerprint) {
    std::fprintf(pOut, ", \"similarity\": %s", PercentText(member.fSimilarity).c_str());
    if (member.nDecodedMs >= 0) std::fprintf(pOut, ", \"decoded_ms\": %d", member.nDecodedMs);
  }
  if (!member.strPassedOver.empty()) {
    std::fprintf(pOut, ", \"passed_over\": %s", JsonString(member.strPassedOver).c_str());
  }
  std::fprintf(pOut, "}");
}

void WriteJsonFiles(const RunReport& report, FILE* pOut) {
  std::vector<FileLine> vecLines = FileLines(report);
  std::stable_sort(vecLines.begin(), vecLines.end(), [](const FileLine& a, const FileLine& b) {
    return *a.pstrPath < *b.pstrPath;
  });
  std::fprintf(pOut, ",\n  \"files\": [");
  for (size_t i = 0; i < vecLines.size(); ++i) {
    const FileLine& line = vecLines[i];
    std::fprintf(pOut, "%s\n    {%s, \"outcome\": \"%s\"", i == 0 ? "" : ",",
                 JsonPathFields("path", *line.pstrPath).c_str(), line.pszOutcome);
    if (line.nGroup > 0) std::fprintf(pOut, ", \"group\": %zu", line.nGroup);
    if (line.pSkipped != nullptr) {
      std::fprintf(pOut, ", \"reason\": %s, \"left_out\": %s",
                   JsonString(line.pSkipped->strReason).c_str(),
                   line.pSkipped->bLeftOut ? "true" : "false");
    }
    std::fprintf(pOut, "}");
  }
  std::fprintf(pOut, "%s]", vecLines.empty() ? "" : "\n  ");
}

void WriteJsonMoves(const RunReport& report, FILE* pOut) {
  std::fprintf(pOut,
               ",\n  \"moves\": {\"action\": %s, \"dir\": %s, \"journal\": %s, \"dry_run\": %s, "
               "\"items\": [",
               JsonString(report.strAction).c_str(), JsonString(report.strMoveDir).c_str(),
               JsonString(report.strJournal).c_str(), report.bDryRun ? "true" : "false");
  for (size_t i = 0; i < report.vecMoves.size(); ++i) {
    const MoveRecord& move = report.vecMoves[i];
    std::fprintf(pOut, "%s\n    {%s, %s, \"status\": \"%s\"", i == 0 ? "" : ",",
                 JsonPathFields("from", move.strFrom).c_str(),
                 JsonPathFields("to", move.strTo).c_str(), MoveStatusName(move.status));
    if (move.status == MoveStatus::kFailed || move.status == MoveStatus::kSkipped) {
      std::fprintf(pOut, ", \"error\": %s", JsonString(move.strError).c_str());
    }
    std::fprintf(pOut, "}");
  }
  std::fprintf(pOut, "%s]", report.vecMoves.empty() ? "" : "\n  ");
  if (!report.strActionError.empty()) {
    std::fprintf(pOut, ", \"error\": %s", JsonString(report.strActionError).c_str());
  }
  std::fprintf(pOut, "}");
}

}  // namespace

void WriteJsonReport(const RunReport& report, FILE* pOut) {
  std::fprintf(pOut,
               "{\n  \"tool\": \"twintone\",\n  \"version\": \"%s\",\n  \"schema_version\": %d,\n",
               TWINTONE_CLI_VERSION, kSchemaVersion);
  if (report.bFingerprint) {
    std::fprintf(
        pOut, "  \"mode\": \"fingerprint\",\n  \"seconds\": %d,\n  \"similarity_percent\": %d,\n",
        report.nSeconds, report.nSimilarity);
  } else {
    std::fprintf(pOut, "  \"mode\": \"tags\",\n  \"fields\": [");
    for (size_t i = 0; i < report.vecFields.size(); ++i) {
      std::fprintf(pOut, "%s%s", i == 0 ? "" : ", ", JsonString(report.vecFields[i]).c_str());
    }
    std::fprintf(pOut, "],\n  \"loose\": %s,\n", report.bLoose ? "true" : "false");
  }
  std::fprintf(pOut,
               "  \"keep_policy\": %s,\n  \"partial\": %s,\n  \"subfolders_not_searched\": %s,\n"
               "  \"summary\": {\"files_loaded\": %d, "
               "\"files_scanned\": %d, \"files_skipped\": %d, \"files_left_out\": %d, "
               "\"groups\": %zu, \"duplicates\": %d, \"unique\": %zu, \"bytes_freed\": %" PRId64
               ", \"bytes_moved\": %" PRId64 "},\n  \"groups\": [",
               JsonString(report.strKeepPolicy).c_str(), report.bPartial ? "true" : "false",
               report.bSubfoldersNotSearched ? "true" : "false",
               report.nFilesLoaded, report.nFilesScanned, report.SkippedCount(false),
               report.SkippedCount(true), report.vecGroups.size(), report.Duplicates(),
               report.vecUnique.size(), report.BytesFreed(), report.BytesMoved());
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    std::fprintf(pOut, "%s\n    {\"group\": %zu, \"keep_reason\": %s, \"unsure\": %s, \"members\": [",
                 g == 0 ? "" : ",", g + 1, JsonString(group.strKeepReason).c_str(),
                 group.bUnsure ? "true" : "false");
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      std::fprintf(pOut, "%s\n", i == 0 ? "" : ",");
      WriteJsonMember(group.vecMembers[i], i == 0 || group.bUnsure, report.bFingerprint, pOut);
    }
    std::fprintf(pOut, "\n    ]}");
  }
  std::fprintf(pOut, "%s]", report.vecGroups.empty() ? "" : "\n  ");
  WriteJsonFiles(report, pOut);
  if (report.bMoveRequested) WriteJsonMoves(report, pOut);
  std::fprintf(pOut, "\n}\n");
}

void WriteCsvReport(const RunReport& report, FILE* pOut) {
  std::map<std::string, const MoveRecord*> mapMoves;
  for (const MoveRecord& move : report.vecMoves) mapMoves[move.strFrom] = &move;

  std::fprintf(pOut,
               "group,member,keep,path,path_hex,title,artist,album,duration_ms,bitrate_kbps,"
               "size_bytes,similarity,move_status,moved_to,outcome,reason,format,lossless,"
               "decoded_ms\r\n");
  for (const FileLine& line : FileLines(report)) {
    const std::string& strPath = *line.pstrPath;
    std::string strGroup, strMember, strKeep, strDuration, strBitrate, strSize, strSimilarity;
    std::string strTitle, strArtist, strAlbum, strFormat, strLossless, strDecoded, strReason;
    std::string strStatus, strMovedTo;
    if (const Member* pMember = line.pMember) {
      strGroup = std::to_string(line.nGroup);
      strMember = std::to_string(line.nMember);
      strKeep = std::string(line.pszOutcome) == "kept" ? "true" : "false";
      strTitle = CsvField(pMember->strTitle);
      strArtist = CsvField(pMember->strArtist);
      strAlbum = CsvField(pMember->strAlbum);
      strDuration = std::to_string(pMember->nDurationMs);
      strBitrate = std::to_string(pMember->nBitrateKbps);
      strSize = std::to_string(pMember->nSizeBytes);
      if (report.bFingerprint) strSimilarity = PercentText(pMember->fSimilarity);
      strFormat = CsvField(pMember->strFormat);
      strLossless = pMember->bLossless ? "true" : "false";
      if (pMember->nDecodedMs >= 0) strDecoded = std::to_string(pMember->nDecodedMs);
      strReason = CsvField(pMember->strPassedOver);
      auto it = strKeep == "true" ? mapMoves.end() : mapMoves.find(strPath);
      if (it != mapMoves.end()) {
        strStatus = MoveStatusName(it->second->status);
        strMovedTo = CsvField(it->second->strTo);
      }
    }
    if (line.pSkipped != nullptr) strReason = CsvField(line.pSkipped->strReason);
    std::fprintf(pOut, "%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\r\n",
                 strGroup.c_str(), strMember.c_str(), strKeep.c_str(), CsvField(strPath).c_str(),
                 IsValidUtf8(strPath) ? "" : HexBytes(strPath).c_str(), strTitle.c_str(),
                 strArtist.c_str(), strAlbum.c_str(), strDuration.c_str(), strBitrate.c_str(),
                 strSize.c_str(), strSimilarity.c_str(), strStatus.c_str(), strMovedTo.c_str(),
                 line.pszOutcome, strReason.c_str(), strFormat.c_str(), strLossless.c_str(),
                 strDecoded.c_str());
  }
}

}  // namespace twintone_cli
