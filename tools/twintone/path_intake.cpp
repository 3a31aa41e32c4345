#include "path_intake.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "interrupt.h"
#include "twintone.h"

namespace twintone_cli {
namespace {

using FileId = std::pair<dev_t, ino_t>;

struct DirCloser {
  void operator()(DIR* pDir) const { closedir(pDir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string Quoted(const std::string& strPath) { return "'" + strPath + "'"; }

std::string AddErrorText(int nCode) {
  switch (nCode) {
    case -1:
      return "refused by the library (path longer than 2048 bytes?)";
    case -3:
      return "no such file or folder";
    default:
      return "refused by the library (code " + std::to_string(nCode) + ")";
  }
}

// Walks the folders below one given folder. Owns the set of folders seen, shared by all
// given folders so that overlapping arguments list nothing twice.
class FolderWalker {
 public:
  FolderWalker(bool bRecursive, const std::string& strSkipDir, const IntakeCallbacks& callbacks)
      : m_bRecursive(bRecursive), m_callbacks(callbacks) {
    struct stat st;
    if (!strSkipDir.empty() && stat(strSkipDir.c_str(), &st) == 0) {
      m_skip = FileId(st.st_dev, st.st_ino);
      m_bHasSkip = true;
    }
  }

  // Lists strRoot (and, recursively, what lies below); returns the number of failures.
  int Walk(const std::string& strRoot) {
    int nErrors = 0;
    std::vector<std::string> vecStack = {strRoot};
    while (!vecStack.empty() && !InterruptRequested().load()) {
      std::string strFolder = vecStack.back();
      vecStack.pop_back();
      struct stat st;
      if (stat(strFolder.c_str(), &st) != 0) {
        Report(strFolder, std::strerror(errno), &nErrors);
        continue;
      }
      FileId id(st.st_dev, st.st_ino);
      bool bBelowRoot = strFolder != strRoot;
      if ((bBelowRoot && m_bHasSkip && id == m_skip) || !m_setSeen.insert(id).second) continue;

      DirHandle dir(opendir(strFolder.c_str()));
      if (!dir) {
        Report(strFolder, std::strerror(errno), &nErrors);
        continue;
      }
      if (m_callbacks.pfnOnFolder) m_callbacks.pfnOnFolder(strFolder);
      int nCode = AddToDedupeLists(strFolder.c_str(), 0);
      if (nCode != 0 && nCode != -2) Report(strFolder, AddErrorText(nCode), &nErrors);
      if (!m_bRecursive) continue;

      std::vector<std::string> vecChildren;
      while (struct dirent* pEntry = readdir(dir.get())) {
        std::string strName = pEntry->d_name;
        if (strName == "." || strName == "..") continue;
        std::string strChild = strFolder == "/" ? "/" + strName : strFolder + "/" + strName;
        struct stat stChild;
        if (stat(strChild.c_str(), &stChild) == 0 && S_ISDIR(stChild.st_mode)) {
          vecChildren.push_back(strChild);
        }
      }
      // Last pushed is walked first: reverse name order here gives name order there.
      std::sort(vecChildren.rbegin(), vecChildren.rend());
      vecStack.insert(vecStack.end(), vecChildren.begin(), vecChildren.end());
    }
    return nErrors;
  }

  void Report(const std::string& strPath, const std::string& strReason, int* pnErrors) {
    ++*pnErrors;
    if (m_callbacks.pfnOnError) {
      m_callbacks.pfnOnError("cannot read " + Quoted(strPath) + ": " + strReason);
    }
  }

 private:
  bool m_bRecursive;
  const IntakeCallbacks& m_callbacks;
  bool m_bHasSkip = false;
  FileId m_skip;
  std::set<FileId> m_setSeen;
};

}  // namespace

std::string CleanPath(const std::string& strPath) {
  bool bAbsolute = !strPath.empty() && strPath[0] == '/';
  std::vector<std::string> vecParts;
  size_t nStart = 0;
  while (nStart <= strPath.size()) {
    size_t nSlash = strPath.find('/', nStart);
    if (nSlash == std::string::npos) nSlash = strPath.size();
    std::string strPart = strPath.substr(nStart, nSlash - nStart);
    if (!strPart.empty() && strPart != ".") vecParts.push_back(strPart);
    nStart = nSlash + 1;
  }
  std::string strOut = bAbsolute ? "/" : "";
  for (size_t i = 0; i < vecParts.size(); ++i) {
    if (i > 0) strOut += '/';
    strOut += vecParts[i];
  }
  if (strOut.empty()) strOut = ".";
  return strOut;
}

int AddPathsToLibrary(const std::vector<std::string>& vecPaths, bool bRecursive,
                      const std::string& strSkipDir, const IntakeCallbacks& callbacks) {
  FolderWalker walker(bRecursive, strSkipDir, callbacks);
  int nErrors = 0;
  for (size_t i = 0; i < vecPaths.size() && !InterruptRequested().load(); ++i) {
    std::string strPath = CleanPath(vecPaths[i]);
    struct stat st;
    if (stat(vecPaths[i].c_str(), &st) != 0) {
      walker.Report(vecPaths[i], std::strerror(errno), &nErrors);
    } else if (S_ISDIR(st.st_mode)) {
      nErrors += walker.Walk(strPath);
    } else if (!S_ISREG(st.st_mode)) {
      walker.Report(vecPaths[i], "not a regular file or folder", &nErrors);
    } else {
      int nCode = AddToDedupeLists(strPath.c_str(), static_cast<int>(i + 1));
      if (nCode != 0 && nCode != -2) walker.Report(vecPaths[i], AddErrorText(nCode), &nErrors);
    }
  }
  return nErrors;
}

}  // namespace twintone_cli
