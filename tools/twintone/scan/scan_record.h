// The record of a scan that made a review page, kept in the cache folder as
// scans/ID.json, so that a plan saved from the page (act/plan.h) can be held to the
// scan: it may name only files the scan found, grouped as the scan grouped them, each
// unchanged since. The id is random and appears in the page and in every plan saved
// from it; a plan without a known id is refused. Records older than kScanRecordDays
// are dropped when a new one is written.
//
// {"twintone_scan": 1, "id", "roots": [{"path_hex"}], "files": [{"path_hex", "rel_hex",
// "dev", "ino", "size", "mtime_ns" (decimal strings), "group" (-1: in no group),
// "member"? (its place in the group, the kept copy 0), "facts"? (a grouped file's tags,
// length, bitrate, format... as the report gives them), "skipped"? (why the library
// skipped it)}], and what --apply's report repeats of the scan: "settings" (mode and
// keep policy), "totals", "groups" [{"keep_reason", "unsure"}], "left_out" [{"path_hex",
// "reason"}]}. Records without the last four still load; their reports say less.
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
  int nGroup = -1;   // its group in the report, -1 for none
  int nMember = -1;  // its place in that group, the kept copy 0
  Member facts;      // a grouped file: what the report says of it (the path and identity
                     // fields above are the ones to trust)
  std::string strSkipped;  // the library skipped it, for this reason
  uint64_t nPrintId = 0;  // its fingerprint's identity ("print", decimal); 0 unknown
};

struct ScanRecord {
  std::string strId;                  // 32 lower-case hex digits
  std::vector<std::string> vecRoots;  // the real paths of the command line's paths
  std::vector<ScanRecordFile> vecFiles;
  // The scan as its report gave it: the settings, keep policy and totals; vecGroups
  // with each group's keep reason and unsure mark (no members: the files carry them);
  // vecSkipped with the files left out before the library saw them.
  RunReport scan;
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
