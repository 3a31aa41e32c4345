#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/file_ops.h"
#include "common/json_value.h"
#include "act/plan.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

// Empty when the file at strPath still has the facts the page recorded, else why not.
std::string Changed(const std::string& strPath, const JsonValue& member) {
  FileFacts facts = FactsOf(strPath);
  if (!facts.bExists) return "it is gone";
  if (std::to_string(facts.nSize) != member.Str("size")) return "its size changed";
  if (std::to_string(facts.nModifiedNs) != member.Str("mtime_ns")) return "it was modified";
  if (std::to_string(facts.nDevice) != member.Str("dev") ||
      std::to_string(facts.nInode) != member.Str("ino")) {
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

}  // namespace

bool LoadPlan(const std::string& strPath, RunReport* pReport,
              std::map<std::string, std::string>* pmapRelative, std::string* pstrError) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) {
    *pstrError = "cannot read the plan " + strPath;
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  JsonValue plan;
  std::string strError;
  if (!ParseJson(buffer.str(), &plan, &strError) || plan.Int("twintone_plan") != 1 ||
      plan["groups"].kind != JsonValue::Kind::kArray) {
    *pstrError = strPath + " is not a twintone plan" + (strError.empty() ? "" : ": " + strError);
    return false;
  }
  std::vector<std::string> vecChanged;
  pReport->vecGroups.clear();
  for (size_t g = 0; g < plan["groups"].vecItems.size(); ++g) {
    const JsonValue& members = plan["groups"].vecItems[g]["members"];
    Group group;
    std::vector<Member> vecDuplicates;
    for (const JsonValue& item : members.vecItems) {
      Member member;
      std::string strRel;
      if (!UnhexBytes(item.Str("path_hex"), &member.strPath) || member.strPath.empty() ||
          !UnhexBytes(item.Str("rel_hex"), &strRel)) {
        *pstrError = strPath + ": a file of group " + std::to_string(g + 1) + " has no path";
        return false;
      }
      if (!StaysBelow(strRel)) {
        *pstrError = strPath + ": a file of group " + std::to_string(g + 1) +
                     " would be moved outside the target folder";
        return false;
      }
      std::string strWhy = Changed(member.strPath, item);
      if (!strWhy.empty()) vecChanged.push_back(TerminalSafe(member.strPath) + ": " + strWhy);
      member.nDevice = std::strtoull(item.Str("dev").c_str(), nullptr, 10);
      member.nInode = std::strtoull(item.Str("ino").c_str(), nullptr, 10);
      member.nSizeBytes = std::strtoll(item.Str("size").c_str(), nullptr, 10);
      member.nModifiedNs = std::strtoll(item.Str("mtime_ns").c_str(), nullptr, 10);
      std::string strRole = item.Str("role");
      if (strRole == "keep") {
        if (!group.vecMembers.empty()) {
          *pstrError = strPath + ": group " + std::to_string(g + 1) + " keeps two copies";
          return false;
        }
        group.vecMembers.push_back(member);
      } else if (strRole == "duplicate") {
        if (!strRel.empty()) (*pmapRelative)[member.strPath] = strRel;
        vecDuplicates.push_back(member);
      } else if (strRole != "leave") {
        *pstrError = strPath + ": unknown role '" + strRole + "'";
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
