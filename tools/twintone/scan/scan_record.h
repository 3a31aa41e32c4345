// The record of a scan that made a review page, kept in the cache folder as
// scans/ID.json, so that a plan saved from the page (act/plan.h) can be held to the
// scan: it may name only files the scan found, grouped as the scan grouped them, each
// unchanged since. The id is random and appears in the page and in every plan saved
// from it; a plan without a known id is refused. Records older than kScanRecordDays
// are dropped when a new one is written.
//
// {"twintone_scan": 1, "id", "roots": [{"path_hex"}], "files": [{"path_hex", "rel_hex",
// "dev", "ino", "size", "mtime_ns" (decimal strings), "group" (-1: in no group)}]}.
#ifndef TWINTONE_TOOLS_SCAN_SCAN_RECORD_H
#define TWINTONE_TOOLS_SCAN_SCAN_RECORD_H

#include <cstdint>
#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

constexpr int kScanRecordDays = 90;

struct ScanRecordFile {
  std::string strPath;  // absolute, as the page and its plans name it
  std::string strRel;   // the place it keeps below a move target
  uint64_t nDevice = 0, nInode = 0;
  int64_t nSize = 0, nModifiedNs = 0;
  int nGroup = -1;  // its group in the report, -1 for none
};

struct ScanRecord {
  std::string strId;                  // 32 lower-case hex digits
  std::vector<std::string> vecRoots;  // the real paths of the command line's paths
  std::vector<ScanRecordFile> vecFiles;
  // "mode": the scan grouped by tags (also for a record that does not say), not by
  // fingerprint.
  bool bByTags = true;
};

// A fresh random id; "" when the system gives no randomness.
std::string NewScanId();

// Whether strId has the form NewScanId gives.
bool IsScanId(const std::string& strId);

// The record of report's scan: every scanned file with its facts and group, and the
// real paths of vecRoots (the command line's paths, for the files' places below a
// move target).
ScanRecord RecordOf(const RunReport& report, const std::vector<std::string>& vecRoots,
                    const std::string& strId);

// Writes the record into the cache folder. False with a reason.
bool SaveScanRecord(const ScanRecord& record, std::string* pstrError);

// Reads the record with id strId. False with a reason (unknown id, unreadable).
bool LoadScanRecord(const std::string& strId, ScanRecord* pRecord, std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_SCAN_RECORD_H
