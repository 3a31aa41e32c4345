// Reports for scripts. Field names are part of the command's interface: add fields,
// never rename or drop them, and raise kSchemaVersion when a meaning changes. The
// layouts are described in docs/reports.md and checked by docs/report.schema.json.
//
// JSON: one object: tool, version, schema_version, mode ("tags" | "fingerprint"),
//   fields and loose (tags) or seconds, similarity_percent and filing? {method
//   ("exact" | "indexed"), reason} (fingerprint), keep_policy, partial,
//   subfolders_not_searched, summary {...}, groups [{group, keep_reason, unsure, members
//   [{keep, path, path_hex?, title, artist, album, format, lossless, duration_ms,
//   bitrate_kbps, size_bytes, modified_ns, similarity? (percent, where it was
//   measured: fingerprint mode, tag groups checked by ear), decoded_ms?, passed_over?,
//   identical (the same bytes as the kept copy), left_alone (a plan left it where it
//   is), quality {measured, and when measured: sample_rate, channels, bandwidth_hz,
//   stereo, clipped_ppm, lead_silence_ms, trail_silence_ms, added_lead_ms,
//   added_trail_ms, measured_ms, lossy_edge, lossy_source; null for an unknown figure;
//   whether they came from the cache is left out, so that a cached re-run reports the
//   same}}], different_recordings [members alike, keep false: same tags, another
//   recording]}], near_floor_percent and near_misses [{path, path_hex?, other,
//   other_hex?, similarity}] (fingerprint mode), files [{path, path_hex?, outcome, group?, reason?,
//   left_out?}] (every file examined, once, in path order), and with
//   an action: moves {action, dir, journal, dry_run, items [{from, from_hex?, to,
//   to_hex?, status ("moved" | "would_move" | "failed" | "skipped"), error?}], error?
//   (why the action as a whole was refused)}.
//   Text is UTF-8; a path that is not valid UTF-8 is given with U+FFFD in "path" and
//   exactly, as hex of its bytes, in "path_hex" (likewise from_hex, to_hex).
// CSV: a header row, then one row per file examined: group members in group order,
//   then unique files, then skipped ones; path_hex is always a column and empty when
//   the path is valid UTF-8; cells that do not apply to a row are empty.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <map>

#include "common/json_io.h"
#include "common/text_escape.h"
#include "report/report.h"

namespace twintone_cli {
namespace {

// The layout's version, raised when a field's meaning changes or one goes away; the
// schema in docs/report.schema.json carries the same number.
constexpr int kSchemaVersion = 3;

// Similarity 0..1 as a percentage with two decimals, for CSV.
std::string PercentText(float fValue) {
  if (!std::isfinite(fValue)) return "null";
  char szText[32];
  std::snprintf(szText, sizeof(szText), "%.2f", static_cast<double>(fValue) * 100.0);
  return szText;
}

// The same number for JSON, rounded to two decimals; NaN is written as null.
double Percent(float fValue) { return std::round(static_cast<double>(fValue) * 10000.0) / 100.0; }

// One line per examined file: what became of it.
struct FileLine {
  const std::string* pstrPath;
  const char* pszOutcome;  // "kept", "duplicate", "different_recording", "unique", "skipped"
  size_t nGroup;           // 1-based; 0 for none
  size_t nMember;          // 1-based; 0 for none
  const Member* pMember;
  const SkippedFile* pSkipped;
  bool bIdentical = false;  // a member with the very bytes of its group's kept copy
};

// Group members in group order, then unique files, then skipped ones.
std::vector<FileLine> FileLines(const RunReport& report) {
  std::vector<FileLine> vecLines;
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      bool bKept = !group.IsDuplicate(i);
      vecLines.push_back({&group.vecMembers[i].strPath, bKept ? "kept" : "duplicate", g + 1, i + 1,
                          &group.vecMembers[i], nullptr, group.IdenticalToKept(i)});
    }
    for (size_t i = 0; i < group.vecDifferent.size(); ++i) {
      vecLines.push_back({&group.vecDifferent[i].strPath, "different_recording", g + 1,
                          group.vecMembers.size() + i + 1, &group.vecDifferent[i], nullptr});
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

// "<name>": the text and, when the bytes are not UTF-8, "<name>_hex": the bytes.
void PutPath(Json& obj, const std::string& strName, const std::string& strPath) {
  obj[strName] = strPath;
  if (!IsValidUtf8(strPath)) obj[strName + "_hex"] = HexBytes(strPath);
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

bool IsRecordList(const Json& value) {
  return value.is_array() && !value.empty() && value.front().is_object();
}

// The report's layout, which people and scripts read a line at a time: the document's
// fields one per line, and every list of records (groups, members, files, moves) one
// record per line; everything else inline. Each token is nlohmann's text.
void Layout(const Json& value, const std::string& strIndent, bool bTop, std::string* pstrOut) {
  std::string strInner = strIndent + "  ";
  if (IsRecordList(value)) {
    for (size_t i = 0; i < value.size(); ++i) {
      *pstrOut += (i == 0 ? "[\n" : ",\n") + strInner;
      Layout(value[i], strInner, false, pstrOut);
    }
    *pstrOut += "\n" + strIndent + "]";
  } else if (value.is_structured() && !value.empty()) {
    bool bObject = value.is_object();
    *pstrOut += bObject ? "{" : "[";
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (it != value.begin()) *pstrOut += ",";
      *pstrOut += bTop ? "\n" + strInner : it != value.begin() ? " " : "";
      if (bObject) *pstrOut += DumpJson(it.key()) + ": ";
      Layout(*it, bTop ? strInner : strIndent, false, pstrOut);
    }
    *pstrOut += std::string(bTop ? "\n" : "") + (bObject ? "}" : "]");
  } else {
    *pstrOut += DumpJson(value);
  }
}

// A figure where -1 means unknown: null then.
Json Figure(int nValue) { return nValue < 0 ? Json(nullptr) : Json(nValue); }

Json QualityJson(const Quality& q) {
  Json obj = {{"measured", q.bMeasured}};
  if (!q.bMeasured) return obj;
  obj.update(Json{{"sample_rate", q.nSampleRate > 0 ? Json(q.nSampleRate) : Json(nullptr)},
                  {"channels", q.nChannels > 0 ? Json(q.nChannels) : Json(nullptr)},
                  {"bandwidth_hz", Figure(q.nBandwidthHz)},
                  {"stereo", StereoName(q.nStereo)},
                  {"clipped_ppm", Figure(q.nClippedPpm)},
                  {"lead_silence_ms", Figure(q.nLeadSilenceMs)},
                  {"trail_silence_ms", Figure(q.nTrailSilenceMs)},
                  {"added_lead_ms", Figure(q.nAddedLeadMs)},
                  {"added_trail_ms", Figure(q.nAddedTrailMs)},
                  {"measured_ms", q.nMeasuredMs},
                  {"lossy_edge", q.bLossyEdge},
                  {"lossy_source", q.bLossySource}});
  return obj;
}

// The measures as CSV cells, in the header's order: "false" and empty cells when not
// measured; every cell empty for a row that is no group member (pq null).
std::string QualityCells(const Quality* pq) {
  if (pq == nullptr) return ",,,,,,,,,,,,";
  const Quality& q = *pq;
  auto cell = [](int nValue) { return nValue < 0 ? std::string() : std::to_string(nValue); };
  auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
  if (!q.bMeasured) return "false,,,,,,,,,,,,";
  return "true," + (q.nSampleRate > 0 ? std::to_string(q.nSampleRate) : "") + "," +
         (q.nChannels > 0 ? std::to_string(q.nChannels) : "") + "," + cell(q.nBandwidthHz) +
         "," + StereoName(q.nStereo) + "," + cell(q.nClippedPpm) + "," +
         cell(q.nLeadSilenceMs) + "," + cell(q.nTrailSilenceMs) + "," + cell(q.nAddedLeadMs) +
         "," + cell(q.nAddedTrailMs) + "," + std::to_string(q.nMeasuredMs) + "," +
         flag(q.bLossyEdge) + "," + flag(q.bLossySource);
}

Json MemberFields(const Member& member, bool bKeep, bool bIdentical, bool bFingerprint) {
  Json obj = {{"keep", bKeep}};
  PutPath(obj, "path", member.strPath);
  obj.update(Json{{"title", member.strTitle},
                  {"artist", member.strArtist},
                  {"album", member.strAlbum},
                  {"format", member.strFormat},
                  {"lossless", member.bLossless},
                  {"duration_ms", member.nDurationMs},
                  {"bitrate_kbps", member.nBitrateKbps},
                  {"size_bytes", member.nSizeBytes},
                  {"modified_ns", member.nModifiedNs}});
  if (bFingerprint || std::isfinite(member.fSimilarity)) {
    obj["similarity"] = Percent(member.fSimilarity);
  }
  if (bFingerprint && member.nDecodedMs >= 0) obj["decoded_ms"] = member.nDecodedMs;
  if (!member.strPassedOver.empty()) obj["passed_over"] = member.strPassedOver;
  obj["identical"] = bIdentical;
  obj["left_alone"] = member.bLeftAlone;
  obj["quality"] = QualityJson(member.quality);
  return obj;
}

Json MemberJson(const Group& group, size_t i, bool bFingerprint) {
  return MemberFields(group.vecMembers[i], !group.IsDuplicate(i), group.IdenticalToKept(i),
                      bFingerprint);
}

Json FilesJson(const RunReport& report) {
  std::vector<FileLine> vecLines = FileLines(report);
  std::stable_sort(vecLines.begin(), vecLines.end(), [](const FileLine& a, const FileLine& b) {
    return *a.pstrPath < *b.pstrPath;
  });
  Json files = Json::array();
  for (const FileLine& line : vecLines) {
    Json file;
    PutPath(file, "path", *line.pstrPath);
    file["outcome"] = line.pszOutcome;
    if (line.nGroup > 0) file["group"] = line.nGroup;
    if (line.pSkipped != nullptr) {
      file["reason"] = line.pSkipped->strReason;
      file["left_out"] = line.pSkipped->bLeftOut;
    }
    files.push_back(std::move(file));
  }
  return files;
}

Json MovesJson(const RunReport& report) {
  Json items = Json::array();
  for (const MoveRecord& move : report.vecMoves) {
    Json item;
    PutPath(item, "from", move.strFrom);
    PutPath(item, "to", move.strTo);
    item["status"] = MoveStatusName(move.status);
    if (move.status == MoveStatus::kFailed || move.status == MoveStatus::kSkipped) {
      item["error"] = move.strError;
    }
    items.push_back(std::move(item));
  }
  Json moves = {{"action", report.strAction},
                {"dir", report.strMoveDir},
                {"journal", report.strJournal},
                {"dry_run", report.bDryRun},
                {"items", std::move(items)}};
  if (!report.strActionError.empty()) moves["error"] = report.strActionError;
  return moves;
}

}  // namespace

void WriteJsonReport(const RunReport& report, FILE* pOut) {
  Json doc = {
      {"tool", "twintone"}, {"version", TWINTONE_CLI_VERSION}, {"schema_version", kSchemaVersion}};
  if (report.bFingerprint) {
    doc.update(Json{{"mode", "fingerprint"},
                    {"seconds", report.nSeconds},
                    {"similarity_percent", report.nSimilarity},
                    {"near_floor_percent", report.nNearFloor}});
    if (!report.strFiling.empty()) {
      doc["filing"] = {{"method", report.strFiling}, {"reason", report.strFilingReason}};
    }
  } else {
    doc.update(Json{{"mode", "tags"}, {"fields", report.vecFields}, {"loose", report.bLoose}});
  }
  Json groups = Json::array();
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    Json members = Json::array();
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      members.push_back(MemberJson(group, i, report.bFingerprint));
    }
    Json different = Json::array();
    for (const Member& member : group.vecDifferent) {
      different.push_back(MemberFields(member, false, false, report.bFingerprint));
    }
    groups.push_back({{"group", g + 1},
                      {"keep_reason", group.strKeepReason},
                      {"unsure", group.bUnsure},
                      {"members", std::move(members)},
                      {"different_recordings", std::move(different)}});
  }
  Json nearMisses = Json::array();
  for (const NearMiss& near : report.vecNearMisses) {
    Json item;
    PutPath(item, "path", near.strPath);
    PutPath(item, "other", near.strOther);
    item["similarity"] = Percent(near.fSimilarity);
    nearMisses.push_back(std::move(item));
  }
  doc.update(Json{{"keep_policy", report.strKeepPolicy},
                  {"partial", report.bPartial},
                  {"subfolders_not_searched", report.bSubfoldersNotSearched},
                  {"summary",
                   {{"files_loaded", report.nFilesLoaded},
                    {"files_scanned", report.nFilesScanned},
                    {"files_skipped", report.SkippedCount(false)},
                    {"files_left_out", report.SkippedCount(true)},
                    {"groups", report.vecGroups.size()},
                    {"duplicates", report.Duplicates()},
                    {"unique", report.vecUnique.size()},
                    {"bytes_freed", report.BytesFreed()},
                    {"bytes_moved", report.BytesMoved()}}},
                  {"groups", std::move(groups)}});
  if (report.bFingerprint) doc["near_misses"] = std::move(nearMisses);
  doc["files"] = FilesJson(report);
  if (report.bMoveRequested) doc["moves"] = MovesJson(report);
  if (report.nKeptApart > 0) doc["summary"]["kept_apart"] = report.nKeptApart;
  std::string strText;
  Layout(doc, "", true, &strText);
  std::fprintf(pOut, "%s\n", strText.c_str());
}

void WriteCsvReport(const RunReport& report, FILE* pOut) {
  std::map<std::string, const MoveRecord*> mapMoves;
  for (const MoveRecord& move : report.vecMoves) mapMoves[move.strFrom] = &move;

  std::fprintf(pOut,
               "group,member,keep,path,path_hex,title,artist,album,duration_ms,bitrate_kbps,"
               "size_bytes,similarity,move_status,moved_to,outcome,reason,format,lossless,"
               "decoded_ms,measured,sample_rate,channels,bandwidth_hz,stereo,clipped_ppm,"
               "lead_silence_ms,trail_silence_ms,added_lead_ms,added_trail_ms,measured_ms,"
               "lossy_edge,lossy_source,identical,left_alone\r\n");
  for (const FileLine& line : FileLines(report)) {
    const std::string& strPath = *line.pstrPath;
    std::string strGroup, strMember, strKeep, strDuration, strBitrate, strSize, strSimilarity;
    std::string strTitle, strArtist, strAlbum, strFormat, strLossless, strDecoded, strReason;
    std::string strStatus, strMovedTo, strQuality = QualityCells(nullptr), strMarks = ",";
    if (const Member* pMember = line.pMember) {
      strQuality = QualityCells(&pMember->quality);
      strMarks = std::string(line.bIdentical ? "true" : "false") + "," +
                 (pMember->bLeftAlone ? "true" : "false");
      strGroup = std::to_string(line.nGroup);
      strMember = std::to_string(line.nMember);
      strKeep = std::string(line.pszOutcome) == "kept" ? "true" : "false";
      strTitle = CsvField(pMember->strTitle);
      strArtist = CsvField(pMember->strArtist);
      strAlbum = CsvField(pMember->strAlbum);
      strDuration = std::to_string(pMember->nDurationMs);
      strBitrate = std::to_string(pMember->nBitrateKbps);
      strSize = std::to_string(pMember->nSizeBytes);
      if (report.bFingerprint || std::isfinite(pMember->fSimilarity)) {
        strSimilarity = PercentText(pMember->fSimilarity);
      }
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
    std::fprintf(pOut, "%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s\r\n",
                 strGroup.c_str(), strMember.c_str(), strKeep.c_str(), CsvField(strPath).c_str(),
                 IsValidUtf8(strPath) ? "" : HexBytes(strPath).c_str(), strTitle.c_str(),
                 strArtist.c_str(), strAlbum.c_str(), strDuration.c_str(), strBitrate.c_str(),
                 strSize.c_str(), strSimilarity.c_str(), strStatus.c_str(), strMovedTo.c_str(),
                 line.pszOutcome, strReason.c_str(), strFormat.c_str(), strLossless.c_str(),
                 strDecoded.c_str(), strQuality.c_str(), strMarks.c_str());
  }
}

}  // namespace twintone_cli
