#include "scan/scan_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>

#include "common/file_ops.h"
#include "common/json_io.h"
#include "common/paths.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

std::string RecordDir() {
  std::string strCache = TwintoneCacheDir();
  return strCache.empty() ? "" : strCache + "/scans";
}

// Drops the records in strDir not written for kScanRecordDays.
void DropOldRecords(const std::string& strDir) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(strDir.c_str()), closedir);
  if (!dir) return;
  int64_t nOldest = (static_cast<int64_t>(std::time(nullptr)) - kScanRecordDays * 86400LL) *
                    1000000000LL;
  while (struct dirent* pEntry = readdir(dir.get())) {
    std::string strName = pEntry->d_name;
    if (strName.size() != 37 || strName.compare(32, 5, ".json") != 0) continue;
    std::string strPath = strDir + "/" + strName;
    if (FactsOf(strPath).nModifiedNs < nOldest) unlink(strPath.c_str());
  }
}

// The measures in a fixed order, so an --apply report shows what the scan measured.
Json QualityFields(const Quality& q) {
  return Json::array({q.bMeasured ? 1 : 0, q.bLossyEdge ? 1 : 0, q.bLossySource ? 1 : 0,
                      q.nSampleRate, q.nChannels, q.nBandwidthHz, q.nStereo, q.nClippedPpm,
                      q.nLeadSilenceMs, q.nTrailSilenceMs, q.nAddedLeadMs, q.nAddedTrailMs,
                      q.nMeasuredMs});
}

// Reads what QualityFields wrote; anything else leaves the copy unmeasured.
void ReadQuality(const Json& obj, Quality* pq) {
  auto it = obj.find("quality");
  if (it == obj.end() || !it->is_array() || it->size() != 13) return;
  int n[13];
  for (size_t i = 0; i < 13; ++i) {
    if (!(*it)[i].is_number_integer()) return;
    int64_t nValue = (*it)[i].get<int64_t>();
    if (nValue < -1 || nValue > 100000000) return;
    n[i] = static_cast<int>(nValue);
  }
  Quality q;
  q.bMeasured = n[0] != 0;
  q.bLossyEdge = n[1] != 0;
  q.bLossySource = n[2] != 0;
  q.nSampleRate = n[3];
  q.nChannels = n[4];
  q.nBandwidthHz = n[5];
  q.nStereo = n[6];
  q.nClippedPpm = n[7];
  q.nLeadSilenceMs = n[8];
  q.nTrailSilenceMs = n[9];
  q.nAddedLeadMs = n[10];
  q.nAddedTrailMs = n[11];
  q.nMeasuredMs = n[12];
  *pq = q;
}

Json FactsJson(const Member& member) {
  return {{"title", member.strTitle},
          {"artist", member.strArtist},
          {"album", member.strAlbum},
          {"duration_ms", member.nDurationMs},
          {"bitrate_kbps", member.nBitrateKbps},
          {"format", member.strFormat},
          {"lossless", member.bLossless},
          {"similarity", std::isfinite(member.fSimilarity) ? member.fSimilarity : 0.0f},
          {"decoded_ms", member.nDecodedMs},
          {"passed_over", member.strPassedOver},
          {"hash", member.strContentHash},
          {"symlink", member.bSymlink},
          {"links", member.nLinks},
          {"quality", QualityFields(member.quality)}};
}

// Reads what FactsJson wrote; fields missing stay as they are.
void ReadFacts(const Json& obj, Member* pMember) {
  int64_t nDuration = 0, nBitrate = 0, nDecoded = -1, nLinks = 1;
  ReadField(obj, "title", &pMember->strTitle);
  ReadField(obj, "artist", &pMember->strArtist);
  ReadField(obj, "album", &pMember->strAlbum);
  ReadField(obj, "duration_ms", &nDuration);
  ReadField(obj, "bitrate_kbps", &nBitrate);
  ReadField(obj, "decoded_ms", &nDecoded);
  ReadField(obj, "links", &nLinks);
  ReadField(obj, "format", &pMember->strFormat);
  ReadField(obj, "passed_over", &pMember->strPassedOver);
  ReadField(obj, "hash", &pMember->strContentHash);
  pMember->nDurationMs = static_cast<int>(nDuration);
  pMember->nBitrateKbps = static_cast<int>(nBitrate);
  pMember->nDecodedMs = static_cast<int>(nDecoded);
  pMember->nLinks = nLinks > 0 ? static_cast<uint64_t>(nLinks) : 1;
  pMember->bLossless = obj.value("lossless", false);
  pMember->bSymlink = obj.value("symlink", false);
  pMember->fSimilarity = obj.value("similarity", 0.0f);
  ReadQuality(obj, &pMember->quality);
}

Json SettingsJson(const RunReport& scan) {
  return {{"fingerprint", scan.bFingerprint}, {"fields", scan.vecFields},
          {"seconds", scan.nSeconds},         {"similarity", scan.nSimilarity},
          {"loose", scan.bLoose},             {"keep_policy", scan.strKeepPolicy}};
}

Json TotalsJson(const RunReport& scan) {
  return {{"files_loaded", scan.nFilesLoaded},
          {"files_scanned", scan.nFilesScanned},
          {"partial", scan.bPartial},
          {"subfolders_not_searched", scan.bSubfoldersNotSearched}};
}

// The report's part of a record read back. Throws JsonFieldError or nlohmann's
// type_error (both caught by the reader) for a field of the wrong type.
void ReadScanPart(const Json& doc, RunReport* pScan) {
  if (doc.contains("settings")) {
    const Json& settings = doc.at("settings");
    int64_t nSeconds = 0, nSimilarity = 0;
    pScan->bFingerprint = settings.value("fingerprint", false);
    pScan->vecFields = settings.value("fields", std::vector<std::string>());
    ReadField(settings, "seconds", &nSeconds);
    ReadField(settings, "similarity", &nSimilarity);
    pScan->nSeconds = static_cast<int>(nSeconds);
    pScan->nSimilarity = static_cast<int>(nSimilarity);
    pScan->bLoose = settings.value("loose", false);
    ReadField(settings, "keep_policy", &pScan->strKeepPolicy);
  }
  if (doc.contains("totals")) {
    const Json& totals = doc.at("totals");
    int64_t nLoaded = 0, nScanned = 0;
    ReadField(totals, "files_loaded", &nLoaded);
    ReadField(totals, "files_scanned", &nScanned);
    pScan->nFilesLoaded = static_cast<int>(nLoaded);
    pScan->nFilesScanned = static_cast<int>(nScanned);
    pScan->bPartial = totals.value("partial", false);
    pScan->bSubfoldersNotSearched = totals.value("subfolders_not_searched", false);
  }
  if (doc.contains("groups")) {
    for (const Json& item : ArrayField(doc, "groups")) {
      Group group;
      ReadField(item, "keep_reason", &group.strKeepReason);
      group.bUnsure = item.value("unsure", false);
      pScan->vecGroups.push_back(group);
    }
  }
  if (doc.contains("left_out")) {
    for (const Json& item : ArrayField(doc, "left_out")) {
      SkippedFile skipped;
      skipped.bLeftOut = true;
      ReadHexField(item, "path", &skipped.strPath, true);
      ReadField(item, "reason", &skipped.strReason);
      pScan->vecSkipped.push_back(skipped);
    }
  }
}

}  // namespace

std::string NewScanId() {
  unsigned char bytes[16];
  FdGuard random(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (random.Get() < 0 || read(random.Get(), bytes, sizeof(bytes)) != sizeof(bytes)) return "";
  return HexBytes(std::string(reinterpret_cast<char*>(bytes), sizeof(bytes)));
}

bool IsScanId(const std::string& strId) {
  if (strId.size() != 32) return false;
  for (char c : strId) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

ScanRecord RecordOf(const RunReport& report, const std::vector<std::string>& vecRoots,
                    const std::string& strId) {
  ScanRecord record;
  record.strId = strId;
  for (const std::string& strRoot : vecRoots) {
    std::string strReal = RealPath(strRoot);
    if (!strReal.empty()) record.vecRoots.push_back(strReal);
  }
  // The report's settings and totals, its groups without members, the files left out.
  RunReport& scan = record.scan;
  scan.bFingerprint = report.bFingerprint;
  scan.vecFields = report.vecFields;
  scan.nSeconds = report.nSeconds;
  scan.nSimilarity = report.nSimilarity;
  scan.bLoose = report.bLoose;
  scan.strKeepPolicy = report.strKeepPolicy;
  scan.nFilesLoaded = report.nFilesLoaded;
  scan.nFilesScanned = report.nFilesScanned;
  scan.bPartial = report.bPartial;
  scan.bSubfoldersNotSearched = report.bSubfoldersNotSearched;
  std::map<std::string, std::pair<int, int>> mapGroups;  // path: group, place in it
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    const Group& group = report.vecGroups[g];
    for (size_t i = 0; i < group.vecMembers.size(); ++i) {
      mapGroups[group.vecMembers[i].strPath] = {static_cast<int>(g), static_cast<int>(i)};
    }
    // Set apart by ear: of the group, after its members, so a plan may name them (to
    // leave them).
    for (size_t i = 0; i < group.vecDifferent.size(); ++i) {
      mapGroups[group.vecDifferent[i].strPath] = {static_cast<int>(g),
                                                  static_cast<int>(group.vecMembers.size() + i)};
    }
    scan.vecGroups.emplace_back();
    scan.vecGroups.back().strKeepReason = group.strKeepReason;
    scan.vecGroups.back().bUnsure = group.bUnsure;
  }
  std::map<std::string, std::string> mapSkipped;
  for (const SkippedFile& skipped : report.vecSkipped) {
    if (skipped.bLeftOut) {
      scan.vecSkipped.push_back(skipped);
    } else {
      mapSkipped[skipped.strPath] = skipped.strReason;
    }
  }
  for (const ScannedFile& scanned : report.vecScanned) {
    ScanRecordFile file;
    file.strPath = AbsolutePath(scanned.strPath);
    file.strRel = RelativeName(scanned.strPath, vecRoots);
    file.nDevice = scanned.nDevice;
    file.nInode = scanned.nInode;
    file.nSize = scanned.nSize;
    file.nModifiedNs = scanned.nModifiedNs;
    auto it = mapGroups.find(scanned.strPath);
    if (it != mapGroups.end()) {
      file.nGroup = it->second.first;
      file.nMember = it->second.second;
      const Group& group = report.vecGroups[file.nGroup];
      const size_t nMember = static_cast<size_t>(file.nMember);
      file.facts = nMember < group.vecMembers.size()
                       ? group.vecMembers[nMember]
                       : group.vecDifferent[nMember - group.vecMembers.size()];
    }
    auto itSkipped = mapSkipped.find(scanned.strPath);
    if (itSkipped != mapSkipped.end()) file.strSkipped = itSkipped->second;
    if (it != mapGroups.end()) file.nPrintId = file.facts.nPrintId;
    record.vecFiles.push_back(file);
  }
  return record;
}

bool SaveScanRecord(const ScanRecord& record, std::string* pstrError) {
  std::string strDir = RecordDir();
  if (strDir.empty() || !IsScanId(record.strId)) {
    *pstrError = "no cache folder is known for the scan record (neither XDG_CACHE_HOME nor HOME)";
    return false;
  }
  for (size_t nSlash = strDir.find('/', 1); nSlash != std::string::npos;
       nSlash = strDir.find('/', nSlash + 1)) {
    mkdir(strDir.substr(0, nSlash).c_str(), 0700);
  }
  if (mkdir(strDir.c_str(), 0700) != 0 && !FactsOf(strDir, true).bDir) {
    *pstrError = "cannot create " + strDir;
    return false;
  }
  DropOldRecords(strDir);
  Json roots = Json::array(), files = Json::array();
  for (const std::string& strRoot : record.vecRoots) roots.push_back({{"path_hex", HexBytes(strRoot)}});
  for (const ScanRecordFile& file : record.vecFiles) {
    Json item = {{"path_hex", HexBytes(file.strPath)},
                 {"rel_hex", HexBytes(file.strRel)},
                 {"dev", std::to_string(file.nDevice)},
                 {"ino", std::to_string(file.nInode)},
                 {"size", std::to_string(file.nSize)},
                 {"mtime_ns", std::to_string(file.nModifiedNs)},
                 {"group", file.nGroup}};
    if (file.nGroup >= 0) {
      item["member"] = file.nMember;
      item["facts"] = FactsJson(file.facts);
    }
    if (!file.strSkipped.empty()) item["skipped"] = file.strSkipped;
    if (file.nPrintId != 0) item["print"] = std::to_string(file.nPrintId);
    files.push_back(std::move(item));
  }
  Json groups = Json::array(), leftOut = Json::array();
  for (const Group& group : record.scan.vecGroups) {
    groups.push_back({{"keep_reason", group.strKeepReason}, {"unsure", group.bUnsure}});
  }
  for (const SkippedFile& skipped : record.scan.vecSkipped) {
    leftOut.push_back({{"path_hex", HexBytes(skipped.strPath)}, {"reason", skipped.strReason}});
  }
  std::string strJson = DumpJson({{"twintone_scan", 1},
                                  {"id", record.strId},
                                  {"roots", roots},
                                  {"files", files},
                                  {"settings", SettingsJson(record.scan)},
                                  {"totals", TotalsJson(record.scan)},
                                  {"groups", groups},
                                  {"left_out", leftOut}}) +
                        "\n";
  std::string strPath = strDir + "/" + record.strId + ".json";
  std::string strTemp = strPath + ".partial";
  FILE* pFile = std::fopen(strTemp.c_str(), "wx");
  bool bWritten = pFile != nullptr && std::fwrite(strJson.data(), 1, strJson.size(), pFile) ==
                                          strJson.size();
  if (pFile != nullptr && std::fclose(pFile) != 0) bWritten = false;
  if (!bWritten || std::rename(strTemp.c_str(), strPath.c_str()) != 0) {
    unlink(strTemp.c_str());
    *pstrError = "cannot write the scan record " + strPath;
    return false;
  }
  return true;
}

bool LoadScanRecord(const std::string& strId, ScanRecord* pRecord, std::string* pstrError) {
  std::string strPath = RecordDir() + "/" + strId + ".json";
  std::string strText;
  if (!IsScanId(strId) || RecordDir().empty() || !FactsOf(strPath).bRegular ||
      !ReadDocumentFile("the scan record", strPath, &strText, pstrError)) {
    *pstrError = "the scan " + strId + " is not known here";
    return false;
  }
  *pRecord = ScanRecord();
  try {
    Json doc;
    std::string strError;
    if (!ParseJson(strText, &doc, &strError)) throw JsonFieldError(strError);
    int64_t nVersion = 0;
    std::string strDocId;
    ReadField(doc, "twintone_scan", &nVersion, true);
    ReadField(doc, "id", &strDocId, true);
    if (nVersion != 1 || strDocId != strId) throw JsonFieldError("not the record of this scan");
    pRecord->strId = strId;
    for (const Json& root : ArrayField(doc, "roots")) {
      pRecord->vecRoots.emplace_back();
      ReadHexField(root, "path", &pRecord->vecRoots.back(), true);
    }
    for (const Json& item : ArrayField(doc, "files")) {
      ScanRecordFile file;
      std::string strDevice, strInode, strSize, strModifiedNs, strPrint;
      int64_t nGroup = -1;
      ReadHexField(item, "path", &file.strPath, true);
      ReadHexField(item, "rel", &file.strRel, true);
      ReadField(item, "dev", &strDevice, true);
      ReadField(item, "ino", &strInode, true);
      ReadField(item, "size", &strSize, true);
      ReadField(item, "mtime_ns", &strModifiedNs, true);
      ReadField(item, "group", &nGroup, true);
      ReadField(item, "print", &strPrint);
      file.nDevice = std::strtoull(strDevice.c_str(), nullptr, 10);
      file.nInode = std::strtoull(strInode.c_str(), nullptr, 10);
      file.nSize = std::strtoll(strSize.c_str(), nullptr, 10);
      file.nModifiedNs = std::strtoll(strModifiedNs.c_str(), nullptr, 10);
      file.nGroup = static_cast<int>(nGroup);
      file.nPrintId = std::strtoull(strPrint.c_str(), nullptr, 10);
      int64_t nMember = -1;
      ReadField(item, "member", &nMember);
      file.nMember = static_cast<int>(nMember);
      if (item.contains("facts")) ReadFacts(item.at("facts"), &file.facts);
      ReadField(item, "skipped", &file.strSkipped);
      pRecord->vecFiles.push_back(std::move(file));
    }
    ReadScanPart(doc, &pRecord->scan);
  } catch (const std::exception& error) {  // JsonFieldError, or no memory left
    *pstrError = "the scan record " + strPath + " cannot be read: " + error.what();
    return false;
  }
  return true;
}

}  // namespace twintone_cli
