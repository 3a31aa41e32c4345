#include "review/terminal_review.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/json_io.h"
#include "common/paths.h"
#include "common/plan_entry.h"
#include "common/text_escape.h"
#include "review/raw_terminal.h"

namespace twintone_cli {
namespace {

constexpr char kKeysLine[] =
    "Keys: 1-9 (then a, b, ...) keep that copy, l N leave copy N alone (again: act on it), "
    "n N not a duplicate, Enter take this group as shown, s skip it (leave it alone), q quit "
    "(act on the groups taken), Ctrl-C stop (act on nothing)\n";

// The key of each copy in its group's order: digits, then the letters no command takes.
// A copy past the last key keeps the role it was given and shows no key.
constexpr char kCopyKeys[] = "123456789abcdefghijkmoprtuvwxyz";

bool WriteAll(int fd, const std::string& strText) {
  size_t nDone = 0;
  while (nDone < strText.size()) {
    ssize_t nWritten = write(fd, strText.data() + nDone, strText.size() - nDone);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten <= 0) return false;
    nDone += static_cast<size_t>(nWritten);
  }
  return true;
}

std::string RoleLabel(const std::string& strRole) {
  if (strRole == "keep") return "[keep]     ";
  if (strRole == "duplicate") return "[duplicate]";
  if (strRole == "distinct") return "[not a dup]";
  return "[leave]    ";
}

std::string OrUnknown(const std::string& strText) {
  return strText.empty() ? "?" : TerminalSafe(strText);
}

// One group as the terminal shows it: numbered copies with their tags and facts.
std::string GroupText(const Group& group, size_t nGroup, size_t nGroups,
                      const std::vector<std::string>& vecRoles) {
  std::string strText = "\nGroup " + std::to_string(nGroup + 1) + " of " + std::to_string(nGroups);
  if (!group.strKeepReason.empty()) strText += " (" + TerminalSafe(group.strKeepReason) + ")";
  strText += "\n";
  if (group.bUnsure) {
    strText += "  Unsure which copy is good: all are left alone unless you choose.\n";
  }
  for (size_t i = 0; i < group.vecMembers.size(); ++i) {
    const Member& member = group.vecMembers[i];
    std::string strNumber(1, i + 1 < sizeof(kCopyKeys) ? kCopyKeys[i] : ' ');
    strText += "  " + strNumber + " " + RoleLabel(vecRoles[i]) + " " + OrUnknown(member.strTitle) +
               " / " + OrUnknown(member.strArtist) + " / " + OrUnknown(member.strAlbum) + "\n";
    strText += "                  " + FormatDuration(member.nDurationMs) + "  " +
               OrUnknown(member.strFormat) + "  " +
               (member.nBitrateKbps > 0 ? std::to_string(member.nBitrateKbps) : "?") + " kbit/s  " +
               FormatBytes(member.nSizeBytes);
    if (member.quality.bMeasured) strText += "  " + QualitySummary(member.quality);
    if (!member.strPassedOver.empty()) strText += "  " + TerminalSafe(member.strPassedOver);
    strText += "\n                  " + TerminalSafe(member.strPath) + "\n";
  }
  return strText;
}

// The member a copy key names, or -1.
int MemberOfKey(int nKey, const Group& group) {
  const char* pKey = nKey > 0 && nKey < 128 ? std::strchr(kCopyKeys, nKey) : nullptr;
  if (pKey == nullptr) return -1;
  size_t nIndex = static_cast<size_t>(pKey - kCopyKeys);
  return nIndex < group.vecMembers.size() ? static_cast<int>(nIndex) : -1;
}

}  // namespace

std::vector<std::string> FirstRoles(const Group& group) {
  std::vector<std::string> vecRoles;
  for (size_t i = 0; i < group.vecMembers.size(); ++i) {
    vecRoles.push_back(i == 0 ? "keep" : group.bUnsure ? "leave" : "duplicate");
  }
  return vecRoles;
}

std::string PlanText(const RunReport& report, const std::string& strScanId,
                     const std::vector<std::vector<std::string>>& vecRoles) {
  Json groups = Json::array();
  for (size_t g = 0; g < report.vecGroups.size() && g < vecRoles.size(); ++g) {
    Json members = Json::array();
    const std::vector<Member>& vecMembers = report.vecGroups[g].vecMembers;
    for (size_t i = 0; i < vecMembers.size() && i < vecRoles[g].size(); ++i) {
      PlanEntry entry;
      entry.strPath = AbsolutePath(vecMembers[i].strPath);
      entry.strRole = vecRoles[g][i];
      members.push_back(Json(entry));
    }
    groups.push_back({{"members", members}});
  }
  return DumpJson({{"twintone_plan", 1}, {"scan_id", strScanId}, {"groups", groups}});
}

ReviewResult ReviewInTerminal(const RunReport& report, const std::string& strScanId, int fdIn,
                              int fdOut) {
  ReviewResult result;
  std::vector<std::vector<std::string>> vecRoles;
  for (const Group& group : report.vecGroups) {
    std::vector<std::string> vecLeave(group.vecMembers.size(), "leave");
    vecRoles.push_back(vecLeave);  // until decided, a group is left alone
  }
  RawTerminal terminal(fdIn);
  if (!terminal.Ok()) {
    result.strError = "--interactive needs a terminal on standard input";
    return result;
  }
  auto fail = [&](const std::string& strWhy) {
    result.outcome = ReviewOutcome::kFailed;
    result.strError = strWhy;
    return result;
  };
  WriteAll(fdOut, std::to_string(report.vecGroups.size()) + " groups to review.\n" + kKeysLine);
  bool bQuit = false;
  for (size_t g = 0; g < report.vecGroups.size() && !bQuit; ++g) {
    const Group& group = report.vecGroups[g];
    std::vector<std::string> vecChosen = FirstRoles(group);
    int nPending = 0;  // 'l' or 'n' waiting for its number
    bool bRedraw = true;
    while (true) {
      if (bRedraw && !WriteAll(fdOut, GroupText(group, g, report.vecGroups.size(), vecChosen))) {
        return fail("the terminal went away");
      }
      bRedraw = false;
      int nKey = terminal.ReadKey();
      if (nKey == kKeyInterrupt) {
        WriteAll(fdOut, "Stopped; nothing is acted on.\n");
        result.outcome = ReviewOutcome::kInterrupted;
        return result;
      }
      if (nKey == kKeyEnd) return fail("the terminal went away during the review");
      int nMember = MemberOfKey(nKey, group);
      if (nPending != 0 && nMember >= 0) {
        std::string& strRole = vecChosen[nMember];
        std::string strMark = nPending == 'l' ? "leave" : "distinct";
        if (strRole != "keep") strRole = strRole == strMark ? "duplicate" : strMark;
        nPending = 0;
        bRedraw = true;
      } else if (nMember >= 0) {
        for (std::string& strRole : vecChosen) {
          if (strRole == "keep") strRole = group.bUnsure ? "leave" : "duplicate";
        }
        vecChosen[nMember] = "keep";
        bRedraw = true;
      } else if (nKey == 'l' || nKey == 'n') {
        nPending = nKey;
        WriteAll(fdOut, nKey == 'l' ? "Leave which copy? " : "Not a duplicate: which copy? ");
      } else if (nKey == '\r' || nKey == '\n' || nKey == ' ') {
        vecRoles[g] = vecChosen;
        break;
      } else if (nKey == 's') {
        WriteAll(fdOut, "Skipped.\n");
        break;
      } else if (nKey == 'q') {
        bQuit = true;
        break;
      } else {
        nPending = 0;
        WriteAll(fdOut, kKeysLine);
      }
    }
  }
  WriteAll(fdOut, bQuit ? "Review ended; the groups not done are left alone.\n" : "Review done.\n");
  result.outcome = ReviewOutcome::kDone;
  result.strPlan = PlanText(report, strScanId, vecRoles);
  return result;
}

}  // namespace twintone_cli
