// Which copies of a group hold the very same bytes. Only members whose size equals
// another member's are read, each file once (a file in two groups, or under two
// names, is hashed once), so a library of distinct encodings costs nothing here.
#ifndef TWINTONE_TOOLS_SCAN_CONTENT_HASH_H
#define TWINTONE_TOOLS_SCAN_CONTENT_HASH_H

#include <atomic>
#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

// FNV-1a 128 of every byte of strPath, as 32 lower-case hex digits; empty when the
// file cannot be read or *pbStop turns true meanwhile (pbStop may be null).
std::string ContentHash(const std::string& strPath, const std::atomic<bool>* pbStop);

// Sets Member::strContentHash for every member of pGroups sharing its size with another
// member of its group; leaves the others empty. Stops early when *pbStop turns true.
void HashEqualSizes(std::vector<Group>* pGroups, const std::atomic<bool>* pbStop);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_CONTENT_HASH_H
