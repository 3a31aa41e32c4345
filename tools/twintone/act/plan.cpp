#include "act/plan.h"

#include <cstdlib>

#include "common/file_ops.h"
#include "common/json_io.h"
#include "common/plan_entry.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

// Empty when the file at strPath still has the facts the page recorded, else why not.
std::string Changed(const PlanEntry& entry) {
  FileFacts facts = FactsOf(entry.strPath);
  if (!facts.bExists) return "it is gone";
  if (std::to_string(facts.nSize) != entry.strSize) return "its size changed";
  if (std::to_string(facts.nModifiedNs) != entry.strModifiedNs) return "it was modified";
  if (std::to_string(facts.nDevice) != entry.strDevice ||
      std::to_string(facts.nInode) != entry.strInode) {
    return "another file has taken its name";
  }
  return "";
}

// A place below the move target: not absolute and never climbing out with "..". A
// plan edited by hand must not send a file outside the folder the user named.
bool StaysBelow(const std::string& strRel) {
  if (!strRel.empty() && strRel[0] == '/') return false;
  size_t nStart = 0;
  while (nStart <= strRel.size()) {
    size_t nSlash = strRel.find('/', nStart);
    if (nSlash == std::string::npos) nSlash = strRel.size();
    if (strRel.compare(nStart, nSlash - nStart, "..") == 0) return false;
    nStart = nSlash + 1;
  }
  return true;
}

// The plan's groups of entries. Throws JsonFieldError (or nlohmann's parse error
// text, as one) for what is not a plan.
std::vector<std::vector<PlanEntry>> ReadPlanGroups(const std::string& strText) {
  Json plan;
  std::string strError;
  if (!ParseJson(strText, &plan, &strError)) throw JsonFieldError(strError);
  int64_t nVersion = 0;
  ReadField(plan, "twintone_plan", &nVersion, true);
  if (nVersion != 1) throw JsonFieldError("'twintone_plan' must be 1");
  std::vector<std::vector<PlanEntry>> vecGroups;
  for (const Json& group : ArrayField(plan, "groups")) {
    vecGroups.emplace_back();
    for (const Json& member : ArrayField(group, "members")) {
      vecGroups.back().push_back(member.get<PlanEntry>());
    }
  }
  return vecGroups;
}

}  // namespace

bool LoadPlan(const std::string& strPath, RunReport* pReport,
              std::map<std::string, std::string>* pmapRelative, std::string* pstrError) {
  std::string strText;
  if (!ReadDocumentFile("the plan", strPath, &strText, pstrError)) return false;
  std::vector<std::vector<PlanEntry>> vecGroups;
  try {
    vecGroups = ReadPlanGroups(strText);
  } catch (const std::exception& error) {
    *pstrError = strPath + " is not a twintone plan: " + error.what();
    return false;
  }
  std::vector<std::string> vecChanged;
  pReport->vecGroups.clear();
  for (size_t g = 0; g < vecGroups.size(); ++g) {
    Group group;
    std::vector<Member> vecDuplicates;
    for (const PlanEntry& entry : vecGroups[g]) {
      Member member;
      member.strPath = entry.strPath;
      if (member.strPath.empty()) {
        *pstrError = strPath + ": a file of group " + std::to_string(g + 1) + " has no path";
        return false;
      }
      if (!StaysBelow(entry.strRel)) {
        *pstrError = strPath + ": a file of group " + std::to_string(g + 1) +
                     " would be moved outside the target folder";
        return false;
      }
      std::string strWhy = Changed(entry);
      if (!strWhy.empty()) vecChanged.push_back(TerminalSafe(member.strPath) + ": " + strWhy);
      member.nDevice = std::strtoull(entry.strDevice.c_str(), nullptr, 10);
      member.nInode = std::strtoull(entry.strInode.c_str(), nullptr, 10);
      member.nSizeBytes = std::strtoll(entry.strSize.c_str(), nullptr, 10);
      if (entry.strRole == "keep") {
        if (!group.vecMembers.empty()) {
          *pstrError = strPath + ": group " + std::to_string(g + 1) + " keeps two copies";
          return false;
        }
        group.vecMembers.push_back(member);
      } else if (entry.strRole == "duplicate") {
        if (!entry.strRel.empty()) (*pmapRelative)[member.strPath] = entry.strRel;
        vecDuplicates.push_back(member);
      } else if (entry.strRole != "leave") {
        *pstrError = strPath + ": unknown role '" + TerminalSafe(entry.strRole) + "'";
        return false;
      }
    }
    if (!vecDuplicates.empty() && group.vecMembers.empty()) {
      *pstrError = strPath + ": group " + std::to_string(g + 1) + " has no copy to keep";
      return false;
    }
    if (vecDuplicates.empty()) continue;
    group.vecMembers.insert(group.vecMembers.end(), vecDuplicates.begin(), vecDuplicates.end());
    pReport->vecGroups.push_back(std::move(group));
  }
  if (!vecChanged.empty()) {
    *pstrError = "the plan is refused, its files changed since the scan:";
    for (const std::string& strLine : vecChanged) *pstrError += "\n  " + strLine;
    return false;
  }
  return true;
}

}  // namespace twintone_cli
