#include "scan/scan_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  record.bByTags = !report.bFingerprint;
  for (const std::string& strRoot : vecRoots) {
    std::string strReal = RealPath(strRoot);
    if (!strReal.empty()) record.vecRoots.push_back(strReal);
  }
  std::map<std::string, int> mapGroups;
  for (size_t g = 0; g < report.vecGroups.size(); ++g) {
    for (const Member& member : report.vecGroups[g].vecMembers) {
      mapGroups[member.strPath] = static_cast<int>(g);
    }
    for (const Member& member : report.vecGroups[g].vecDifferent) {
      mapGroups[member.strPath] = static_cast<int>(g);
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
    if (it != mapGroups.end()) file.nGroup = it->second;
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
    files.push_back({{"path_hex", HexBytes(file.strPath)},
                     {"rel_hex", HexBytes(file.strRel)},
                     {"dev", std::to_string(file.nDevice)},
                     {"ino", std::to_string(file.nInode)},
                     {"size", std::to_string(file.nSize)},
                     {"mtime_ns", std::to_string(file.nModifiedNs)},
                     {"group", file.nGroup}});
  }
  std::string strJson =
      DumpJson({{"twintone_scan", 1},
                {"id", record.strId},
                {"mode", record.bByTags ? "tags" : "fingerprint"},
                {"roots", roots},
                {"files", files}}) +
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
    std::string strMode = "tags";
    ReadField(doc, "mode", &strMode, false);
    pRecord->bByTags = strMode != "fingerprint";
    for (const Json& root : ArrayField(doc, "roots")) {
      pRecord->vecRoots.emplace_back();
      ReadHexField(root, "path", &pRecord->vecRoots.back(), true);
    }
    for (const Json& item : ArrayField(doc, "files")) {
      ScanRecordFile file;
      std::string strDevice, strInode, strSize, strModifiedNs;
      int64_t nGroup = -1;
      ReadHexField(item, "path", &file.strPath, true);
      ReadHexField(item, "rel", &file.strRel, true);
      ReadField(item, "dev", &strDevice, true);
      ReadField(item, "ino", &strInode, true);
      ReadField(item, "size", &strSize, true);
      ReadField(item, "mtime_ns", &strModifiedNs, true);
      ReadField(item, "group", &nGroup, true);
      file.nDevice = std::strtoull(strDevice.c_str(), nullptr, 10);
      file.nInode = std::strtoull(strInode.c_str(), nullptr, 10);
      file.nSize = std::strtoll(strSize.c_str(), nullptr, 10);
      file.nModifiedNs = std::strtoll(strModifiedNs.c_str(), nullptr, 10);
      file.nGroup = static_cast<int>(nGroup);
      pRecord->vecFiles.push_back(std::move(file));
    }
  } catch (const std::exception& error) {  // JsonFieldError, or no memory left
    *pstrError = "the scan record " + strPath + " cannot be read: " + error.what();
    return false;
  }
  return true;
}

}  // namespace twintone_cli
