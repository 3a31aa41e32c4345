// Reports for scripts. Field names are part of the command's interface: add fields,
// never rename or drop them.
//
// JSON: one object, keys in this order:
//   tool, version, mode ("text" | "fingerprint"), fields (text mode) or seconds and
//   similarity_percent (fingerprint mode), partial, summary {files_loaded,
//   files_scanned, files_skipped, groups, duplicates, bytes_freed}, groups [{group,
//   members [{keep, path, path_hex?, title, artist, album, duration_ms, bitrate_kbps,
//   size_bytes, similarity}]}], and with an action: moves {action, dir, journal, dry_run,
//   items [{from, from_hex?, to, to_hex?, status ("moved" | "would_move" | "failed" |
//   "skipped"), error?}]}.
//   Text is UTF-8; a path that is not valid UTF-8 is given with U+FFFD in "path" and
//   exactly, as hex of its bytes, in "path_hex" (likewise from_hex, to_hex).
// CSV: a header row, then one row per member in group order; path_hex is always a
//   column and empty when the path is valid UTF-8; move_status and moved_to are empty
//   unless the member was to be moved.
#include <cinttypes>
#include <cmath>
#include <map>

#include "report.h"
#include "text_escape.h"

namespace twintone_cli {
namespace {

std::string JsonNumber(float fValue) {
  if (!std::isfinite(fValue)) return "null";
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.4f", static_cast<double>(fValue));
  return szText;
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

void WriteJsonMember(const Member& member, bool bKeep, FILE* pOut) {
  std::fprintf(pOut,
               "        {\"keep\": %s, %s, \"title\": %s, \"artist\": %s, \"album\": %s, "
               "\"duration_ms\": %d, \"bitrate_kbps\": %d, \"size_bytes\": %" PRId64
               ", \"similarity\": %s}",
               bKeep ? "true" : "false", JsonPathFields("path", member.strPath).c_str(),
               JsonString(member.strTitle).c_str(), JsonString(member.strArtist).c_str(),
               JsonString(member.strAlbum).c_str(), member.nDurationMs, member.nBitrateKbps,
               member.nSizeBytes, JsonNumber(member.fSimilarity).c_str());
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
  std::fprintf(pOut, "%s]}", report.vecMoves.empty() ? "" : "\n  ");
}

}  // namespace

void WriteJsonReport(const RunReport& report, FILE* pOut) {
  std::fprintf(pOut, "{\n  \"tool\": \"twintone\",\n  \"version\": \"%s\",\n",
               TWINTONE_CLI_VERSION);
  if (report.bFingerprint) {
    std::fprintf(
        pOut, "  \"mode\": \"fingerprint\",\n  \"seconds\": %d,\n  \"similarity_percent\": %d,\n",
        report.nSeconds, report.nSimilarity);
  } else {
    std::fprintf(pOut, "  \"mode\": \"text\",\n  \"fields\": [");
    for (size_t i = 0; i < report.vecFields.size(); ++i) {
      std::fprintf(pOut, "%s%s", i == 0 ? "" : ", ", JsonString(report.vecFields[i]).c_str());
    }
    std::fprintf(pOut, "],\n");
  }
  std::fprintf(
      pOut,
      "  \"partial\": %s,\n  \"summary\": {\"files_loaded\": %d, \"files_scanned\": %d, "
      "\"files_skipped\": %d, \"groups\": %zu, \"duplicates\": %d, \"bytes_freed\": %" PRId64
      "},\n  \"groups\": [",
      report.bPartial ? "true" : "false", report.nFilesLoaded, report.nFilesScanned,
      report.nFilesSkipped, report.vecGroups.size(), report.Duplicates(), report.BytesFreed());
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    std::fprintf(pOut, "%s\n    {\"group\": %zu, \"members\": [", g == 0 ? "" : ",", g + 1);
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      std::fprintf(pOut, "%s\n", i == 0 ? "" : ",");
      WriteJsonMember(group.vecMembers[i], i == 0, pOut);
    }
    std::fprintf(pOut, "\n    ]}");
  }
  std::fprintf(pOut, "%s]", report.vecGroups.empty() ? "" : "\n  ");
  if (report.bMoveRequested) WriteJsonMoves(report, pOut);
  std::fprintf(pOut, "\n}\n");
}

void WriteCsvReport(const RunReport& report, FILE* pOut) {
  std::map<std::string, const MoveRecord*> mapMoves;
  for (const MoveRecord& move : report.vecMoves) mapMoves[move.strFrom] = &move;

  std::fprintf(pOut,
               "group,member,keep,path,path_hex,title,artist,album,duration_ms,bitrate_kbps,"
               "size_bytes,similarity,move_status,moved_to\r\n");
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      const Member& member = group.vecMembers[i];
      std::string strStatus;
      std::string strMovedTo;
      auto it = i == 0 ? mapMoves.end() : mapMoves.find(member.strPath);
      if (it != mapMoves.end()) {
        strStatus = MoveStatusName(it->second->status);
        strMovedTo = it->second->strTo;
      }
      std::fprintf(pOut, "%zu,%zu,%s,%s,%s,%s,%s,%s,%d,%d,%" PRId64 ",%s,%s,%s\r\n", g + 1, i + 1,
                   i == 0 ? "true" : "false", CsvField(member.strPath).c_str(),
                   IsValidUtf8(member.strPath) ? "" : HexBytes(member.strPath).c_str(),
                   CsvField(member.strTitle).c_str(), CsvField(member.strArtist).c_str(),
                   CsvField(member.strAlbum).c_str(), member.nDurationMs, member.nBitrateKbps,
                   member.nSizeBytes, JsonNumber(member.fSimilarity).c_str(), strStatus.c_str(),
                   CsvField(strMovedTo).c_str());
    }
  }
}

}  // namespace twintone_cli
