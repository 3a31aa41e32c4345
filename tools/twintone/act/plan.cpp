#include "act/plan.h"

#include <map>
#include <set>
#include <unordered_map>

#include "common/file_ops.h"
#include "common/json_io.h"
#include "common/plan_entry.h"
#include "common/text_escape.h"
#include "scan/scan_record.h"

namespace twintone_cli {
namespace {

const char kGone[] = "it is gone";

// Empty when the file at strPath still is the file the scan recorded, else why not.
std::string Changed(const ScanRecordFile& file) {
  FileFacts facts = FactsOf(file.strPath);
  if (!facts.bExists) return kGone;
  if (facts.nDevice != file.nDevice || facts.nInode != file.nInode) {
    return "another file has taken its name";
  }
  if (facts.nSize != file.nSize) return "its size changed";
  if (facts.nModifiedNs != file.nModifiedNs) return "it was modified";
  return "";
}

// A place below the move target: not absolute and never climbing out with "..".
bool StaysBelow(const std::string& strRel) {
  if (strRel.empty() || strRel[0] == '/') return false;
  size_t nStart = 0;
  while (nStart <= strRel.size()) {
    size_t nSlash = strRel.find('/', nStart);
    if (nSlash == std::string::npos) nSlash = strRel.size();
    if (strRel.compare(nStart, nSlash - nStart, "..") == 0) return false;
    nStart = nSlash + 1;
  }
  return true;
}

Member MemberOf(const ScanRecordFile& file) {
  Member member = file.facts;
  member.strPath = file.strPath;
  member.nDevice = file.nDevice;
  member.nInode = file.nInode;
  member.nSizeBytes = file.nSize;
  member.nModifiedNs = file.nModifiedNs;
  return member;
}

// A plan as read: its scan id and its groups of entries.
struct PlanText {
  std::string strScanId;
  std::vector<std::vector<PlanEntry>> vecGroups;
};

// Throws JsonFieldError (or nlohmann's parse error text, as one) for what is not a plan.
PlanText ReadPlanText(const std::string& strText) {
  Json plan;
  std::string strError;
  if (!ParseJson(strText, &plan, &strError)) throw JsonFieldError(strError);
  int64_t nVersion = 0;
  ReadField(plan, "twintone_plan", &nVersion, true);
  if (nVersion != 1) throw JsonFieldError("'twintone_plan' must be 1");
  PlanText text;
  ReadField(plan, "scan_id", &text.strScanId);
  for (const Json& group : ArrayField(plan, "groups")) {
    text.vecGroups.emplace_back();
    for (const Json& member : ArrayField(group, "members")) {
      text.vecGroups.back().push_back(member.get<PlanEntry>());
    }
  }
  return text;
}

}  // namespace

bool LoadPlan(const std::string& strPath, LoadedPlan* pPlan, std::string* pstrError) {
  std::string strText;
  if (!ReadDocumentFile("the plan", strPath, &strText, pstrError)) return false;
  return LoadPlanText(strText, strPath, pPlan, pstrError);
}

bool LoadPlanText(const std::string& strText, const std::string& strPath, LoadedPlan* pPlan,
                  std::string* pstrError) {
  PlanText plan;
  try {
    plan = ReadPlanText(strText);
  } catch (const std::exception& error) {
    *pstrError = strPath + " is not a twintone plan: " + error.what();
    return false;
  }
  auto refuse = [&](const std::string& strWhy) {
    *pstrError = "the plan " + strPath + " is refused: " + strWhy;
    return false;
  };
  if (!IsScanId(plan.strScanId)) {
    return refuse("it names no scan; save a plan from a page made by this version (--html)");
  }
  ScanRecord record;
  std::string strError;
  if (!LoadScanRecord(plan.strScanId, &record, &strError)) {
    return refuse(strError + "; make a new page with --html and save the plan from it");
  }
  std::unordered_map<std::string, const ScanRecordFile*> mapFiles;
  for (const ScanRecordFile& file : record.vecFiles) mapFiles[file.strPath] = &file;

  *pPlan = LoadedPlan();
  pPlan->vecRoots = record.vecRoots;
  pPlan->scan = record.scan;
  pPlan->scan.vecGroups.clear();
  for (const ScanRecordFile& file : record.vecFiles) {
    if (file.nGroup >= 0) continue;
    if (file.strSkipped.empty()) {
      pPlan->scan.vecUnique.push_back(file.strPath);
    } else {
      pPlan->scan.vecSkipped.push_back({file.strPath, file.strSkipped, false});
    }
  }
  auto scanGroup = [&](int nGroup) -> const Group* {
    return nGroup >= 0 && static_cast<size_t>(nGroup) < record.scan.vecGroups.size()
               ? &record.scan.vecGroups[static_cast<size_t>(nGroup)]
               : nullptr;
  };
  std::map<int, size_t> mapPlanGroup;  // scan group: its group in the plan
  std::set<std::string> setNamed;
  std::vector<std::string> vecChanged;
  size_t nGone = 0;  // of the files in vecChanged, those no longer there
  for (size_t g = 0; g < plan.vecGroups.size(); ++g) {
    std::string strGroup = "group " + std::to_string(g + 1);
    Group group;
    std::vector<Member> vecDuplicates, vecLeft;
    std::vector<uint64_t> vecDistinct;
    uint64_t nKeptPrint = 0;
    int nScanGroup = -1;
    bool bKeptAsScanned = false;
    for (const PlanEntry& entry : plan.vecGroups[g]) {
      const std::string& strFile = entry.strPath;
      if (strFile.empty()) return refuse("a file of " + strGroup + " has no path");
      // No file's name holds a NUL; other control bytes (a newline in a name) are fine,
      // since only the very names the scan found are taken.
      if (strFile.find('\0') != std::string::npos) {
        return refuse(strGroup + " names a file with a NUL byte");
      }
      auto it = mapFiles.find(strFile);
      if (it == mapFiles.end()) {
        return refuse(TerminalSafe(strFile) + " is not a file its scan found");
      }
      if (!setNamed.insert(strFile).second) {
        return refuse(TerminalSafe(strFile) + " is named more than once");
      }
      const ScanRecordFile& file = *it->second;
      if (file.nGroup < 0 || (nScanGroup >= 0 && file.nGroup != nScanGroup)) {
        return refuse(strGroup + " puts together files the scan did not group together");
      }
      nScanGroup = file.nGroup;
      const std::string& strRole = entry.strRole;
      if (strRole == "leave" || strRole == "distinct") {
        if (strRole == "distinct") vecDistinct.push_back(file.nPrintId);
        vecLeft.push_back(MemberOf(file));
        vecLeft.back().bLeftAlone = true;
        continue;
      }
      std::string strWhy = Changed(file);
      if (!strWhy.empty()) vecChanged.push_back(TerminalSafe(file.strPath) + ": " + strWhy);
      nGone += strWhy == kGone;
      if (strRole == "keep") {
        if (!group.vecMembers.empty()) return refuse(strGroup + " keeps two copies");
        group.vecMembers.push_back(MemberOf(file));
        bKeptAsScanned = file.nMember == 0;
        nKeptPrint = file.nPrintId;
      } else if (strRole == "duplicate") {
        if (!StaysBelow(file.strRel) || file.strRel.find('\0') != std::string::npos) {
          return refuse(TerminalSafe(file.strPath) + " would be moved outside the target folder");
        }
        pPlan->mapRelative[file.strPath] = file.strRel;
        vecDuplicates.push_back(MemberOf(file));
      } else {
        return refuse("unknown role '" + TerminalSafe(strRole) + "'");
      }
    }
    if ((!vecDuplicates.empty() || !vecDistinct.empty()) && group.vecMembers.empty()) {
      return refuse(strGroup + " has no copy to keep");
    }
    for (uint64_t nPrint : vecDistinct) pPlan->vecDistinct.emplace_back(nKeptPrint, nPrint);
    group.vecMembers.insert(group.vecMembers.end(), vecDuplicates.begin(), vecDuplicates.end());
    group.vecMembers.insert(group.vecMembers.end(), vecLeft.begin(), vecLeft.end());
    if (group.vecMembers.empty()) continue;
    const Group* pScanned = scanGroup(nScanGroup);
    group.strKeepReason = vecLeft.size() == group.vecMembers.size()
                              ? "left alone: every copy stays"
                          : bKeptAsScanned && pScanned != nullptr ? pScanned->strKeepReason
                                                                  : "kept: your choice in the review";
    mapPlanGroup[nScanGroup] = pPlan->vecGroups.size();
    pPlan->vecGroups.push_back(std::move(group));
  }
  // Grouped files the plan does not name stay too, in their group.
  for (const ScanRecordFile& file : record.vecFiles) {
    if (file.nGroup < 0 || setNamed.count(file.strPath) != 0) continue;
    auto it = mapPlanGroup.find(file.nGroup);
    if (it == mapPlanGroup.end()) {
      Group group;
      group.strKeepReason = "left alone: the plan does not name this group";
      it = mapPlanGroup.emplace(file.nGroup, pPlan->vecGroups.size()).first;
      pPlan->vecGroups.push_back(std::move(group));
    }
    pPlan->vecGroups[it->second].vecMembers.push_back(MemberOf(file));
    pPlan->vecGroups[it->second].vecMembers.back().bLeftAlone = true;
  }
  if (!vecChanged.empty()) {
    // A plan carried out already finds every file it acts on gone: said in a line, and
    // a long list is cut to its head.
    constexpr size_t kListed = 10;
    *pstrError = "the plan is refused, its files changed since the scan";
    if (nGone == vecChanged.size()) {
      *pstrError += " (all " + std::to_string(nGone) +
                    " are gone: was the plan carried out already?)";
    }
    *pstrError += ":";
    for (size_t i = 0; i < vecChanged.size() && i < kListed; ++i) {
      *pstrError += "\n  " + vecChanged[i];
    }
    if (vecChanged.size() > kListed) {
      *pstrError += "\n  and " + std::to_string(vecChanged.size() - kListed) + " more";
    }
    return false;
  }
  return true;
}

}  // namespace twintone_cli
