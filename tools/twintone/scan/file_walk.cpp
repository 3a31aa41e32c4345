#include "scan/file_walk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "scan/path_glob.h"

namespace twintone_cli {
namespace {

// Each extension between spaces. The first nineteen are the library's own folder
// list; the rest are formats the tag reader and the decoder both open.
constexpr char kAudioExtensions[] =
    "aac alac ac3 aif aiff ape flac m4a mp4 mp3 mp2 mp1 mpa mpc ogg tta wav wma wv "
    "opus oga m4b m4r";

using FileId = std::pair<dev_t, ino_t>;

struct DirCloser {
  void operator()(DIR* pDir) const { closedir(pDir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string Quoted(const std::string& strPath) { return "'" + strPath + "'"; }

std::string JoinPath(const std::string& strFolder, const std::string& strName) {
  return strFolder == "/" ? "/" + strName : strFolder + "/" + strName;
}

// The folder part and the name of a cleaned path.
std::pair<std::string, std::string> SplitPath(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of('/');
  if (nSlash == std::string::npos) return {".", strPath};
  return {nSlash == 0 ? "/" : strPath.substr(0, nSlash), strPath.substr(nSlash + 1)};
}

// The resolved spelling of a folder, or the spelling given when it cannot be resolved.
std::string RealFolder(const std::string& strFolder) {
  std::unique_ptr<char, decltype(&std::free)> pszReal(realpath(strFolder.c_str(), nullptr),
                                                      &std::free);
  return pszReal ? std::string(pszReal.get()) : strFolder;
}

// Reason for an entry that could not be examined, from lstat's, access's or
// opendir's errno.
std::string ErrnoReason(int nErrno) {
  if (nErrno == EACCES) return "unreadable";
  if (nErrno == ENAMETOOLONG) return "path too long";
  return std::strerror(nErrno);
}

class Walker {
 public:
  explicit Walker(const WalkSettings& settings) : m_settings(settings) {
    struct stat st;
    if (!settings.strSkipDir.empty() && stat(settings.strSkipDir.c_str(), &st) == 0) {
      m_skip = FileId(st.st_dev, st.st_ino);
      m_bHasSkip = true;
    }
  }

  WalkResult Take() { return std::move(m_result); }

  bool Stopped() const { return m_settings.pbStop != nullptr && m_settings.pbStop->load(); }

  // One command-line argument: a folder is walked, anything else is a file named.
  void TakeArgument(const std::string& strArg, int nPosition) {
    std::string strPath = CleanPath(strArg);
    struct stat st;
    if (lstat(strPath.c_str(), &st) != 0) {
      int nErrno = errno;
      if (nErrno == ENOENT) return Fail(strArg, std::strerror(nErrno), "");
      return Unreachable(strArg, nErrno);
    }
    struct stat stTarget = st;
    if (S_ISLNK(st.st_mode) && stat(strPath.c_str(), &stTarget) == 0 && S_ISDIR(stTarget.st_mode)) {
      WalkTree(strPath);
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      WalkTree(strPath);
    } else if (S_ISLNK(st.st_mode) || S_ISREG(st.st_mode)) {
      auto parts = SplitPath(strPath);
      if (Excluded(strPath, "", parts.second)) return;
      TakeFile(strPath, RealFolder(parts.first), parts.second, st, nPosition);
    } else {
      Fail(strArg, "not a regular file or folder", "not a regular file");
    }
  }

 private:
  void LeaveOut(const std::string& strPath, const std::string& strReason) {
    m_result.vecSkipped.push_back(SkippedFile{strPath, strReason, true});
  }

  // A path that could not be read: an error message, and a left-out entry when
  // strReason is set.
  void Fail(const std::string& strPath, const std::string& strWhy, const std::string& strReason) {
    m_result.vecErrors.push_back("cannot read " + Quoted(strPath) + ": " + strWhy);
    if (!strReason.empty()) LeaveOut(strPath, strReason);
  }

  // A path the file system refused with nErrno. A path past the system's length limit
  // cannot be opened by anyone: it is left out, not an error of the run.
  void Unreachable(const std::string& strPath, int nErrno) {
    if (nErrno == ENAMETOOLONG) return LeaveOut(strPath, ErrnoReason(nErrno));
    Fail(strPath, std::strerror(nErrno), ErrnoReason(nErrno));
  }

  // A regular file or a symbolic link (st from lstat) named strPath, whose directory
  // entry is strName in the resolved folder strRealFolder.
  void TakeFile(const std::string& strPath, const std::string& strRealFolder,
                const std::string& strName, const struct stat& st, int nPosition) {
    std::string strEntry = JoinPath(strRealFolder, strName);
    if (!m_setEntries.insert(strEntry).second) return;  // the same entry, another spelling
    std::string strLoad = strPath;
    struct stat stFile = st;
    if (S_ISLNK(st.st_mode)) {
      if (!m_settings.bFollowSymlinks) return LeaveOut(strPath, "symbolic link");
      std::unique_ptr<char, decltype(&std::free)> pszReal(realpath(strPath.c_str(), nullptr),
                                                          &std::free);
      if (!pszReal || stat(pszReal.get(), &stFile) != 0) {
        return LeaveOut(strPath, "broken symbolic link");
      }
      if (!S_ISREG(stFile.st_mode)) return LeaveOut(strPath, "not a regular file");
      strLoad = pszReal.get();
      // The resolved path spells the target's own entry: whichever of the two comes
      // second is known by it, and dealt with once.
      if (!m_setEntries.insert(strLoad).second) return;
    }
    if (access(strLoad.c_str(), R_OK) != 0) {
      return Unreachable(strLoad, errno);
    }
    // The library would only call an empty file undecodable; say what it is.
    if (stFile.st_size == 0) return LeaveOut(strLoad, "empty file");
    auto inserted = m_mapTaken.emplace(Id(stFile), strLoad);
    if (!inserted.second) return LeaveOut(strLoad, "same file as " + inserted.first->second);
    ScannedFile facts{strLoad, static_cast<uint64_t>(stFile.st_dev),
                      static_cast<uint64_t>(stFile.st_ino), static_cast<int64_t>(stFile.st_size),
                      static_cast<int64_t>(stFile.st_mtim.tv_sec) * 1000000000 +
                          stFile.st_mtim.tv_nsec};
    m_result.vecFiles.push_back(FileToLoad{strLoad, nPosition, facts});
  }

  static FileId Id(const struct stat& st) { return FileId(st.st_dev, st.st_ino); }

  // Whether an --exclude pattern takes the entry; if so it is listed as left out.
  bool Excluded(const std::string& strPath, const std::string& strRelative,
                const std::string& strName) {
    const std::string* pstrPattern =
        ExcludingPattern(m_settings.vecExclude, strPath, strRelative, strName);
    if (pstrPattern != nullptr) LeaveOut(strPath, "excluded by " + *pstrPattern);
    return pstrPattern != nullptr;
  }

  // Reads strRoot and, with bRecursive, every folder below it, each folder once.
  void WalkTree(const std::string& strRoot) {
    std::vector<std::string> vecStack = {strRoot};
    while (!vecStack.empty() && !Stopped()) {
      std::string strFolder = vecStack.back();
      vecStack.pop_back();
      struct stat st;
      if (stat(strFolder.c_str(), &st) != 0) {
        Unreachable(strFolder, errno);
        continue;
      }
      bool bBelowRoot = strFolder != strRoot;
      if (bBelowRoot && m_bHasSkip && Id(st) == m_skip) {
        LeaveOut(strFolder, "folder duplicates are moved into");
        continue;
      }
      if (!m_setFolders.insert(Id(st)).second) continue;
      std::vector<std::string> vecChildren = ReadFolder(strFolder, strRoot);
      // Last pushed is read first: reverse name order here gives name order there.
      vecStack.insert(vecStack.end(), vecChildren.rbegin(), vecChildren.rend());
    }
  }

  // Takes the files of one folder; returns its subfolders to enter (none unless
  // bRecursive). strRoot: the folder named on the command line it was reached from.
  std::vector<std::string> ReadFolder(const std::string& strFolder, const std::string& strRoot) {
    bool bGiven = strFolder == strRoot;
    size_t nRootPrefix = strRoot == "/" ? 1 : strRoot.size() + 1;
    std::vector<std::string> vecFolders;
    DirHandle dir(opendir(strFolder.c_str()));
    if (!dir) {
      Unreachable(strFolder, errno);
      return vecFolders;
    }
    if (m_settings.pfnOnFolder) m_settings.pfnOnFolder(strFolder);
    std::vector<std::string> vecNames;
    while (struct dirent* pEntry = readdir(dir.get())) {
      std::string strName = pEntry->d_name;
      if (strName != "." && strName != "..") vecNames.push_back(strName);
    }
    dir.reset();
    std::sort(vecNames.begin(), vecNames.end());
    std::string strRealFolder = RealFolder(strFolder);
    for (const std::string& strName : vecNames) {
      if (Stopped()) break;
      std::string strPath = JoinPath(strFolder, strName);
      struct stat st;
      if (lstat(strPath.c_str(), &st) != 0) {
        Unreachable(strPath, errno);
        continue;
      }
      struct stat stTarget;
      bool bFolder =
          S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && stat(strPath.c_str(), &stTarget) == 0 &&
                                  S_ISDIR(stTarget.st_mode));
      bool bHidden = strName[0] == '.';
      if ((!bFolder || m_settings.bRecursive) &&
          Excluded(strPath, strPath.substr(nRootPrefix), strName)) {
        continue;
      }
      if (bFolder) {
        if (!m_settings.bRecursive) {
          if (bGiven && !bHidden) m_result.bSubfoldersNotSearched = true;
        } else if (bHidden) {
          LeaveOut(strPath, "hidden folder");
        } else {
          vecFolders.push_back(strPath);
        }
      } else if (bHidden) {
        LeaveOut(strPath, "hidden");
      } else if (!IsAudioFileName(strName)) {
        LeaveOut(strPath, "not audio");
      } else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        LeaveOut(strPath, "not a regular file");
      } else {
        TakeFile(strPath, strRealFolder, strName, st, 0);
      }
    }
    return vecFolders;
  }

  const WalkSettings& m_settings;
  WalkResult m_result;
  bool m_bHasSkip = false;
  FileId m_skip;
  std::set<FileId> m_setFolders;             // folders entered
  std::set<std::string> m_setEntries;        // resolved folder + name of every entry met
  std::map<FileId, std::string> m_mapTaken;  // files handed over, with their first name
};

}  // namespace

bool IsAudioFileName(const std::string& strName) {
  size_t nDot = strName.find_last_of('.');
  if (nDot == std::string::npos || nDot + 1 == strName.size()) return false;
  std::string strExt = strName.substr(nDot + 1);
  for (char& c : strExt) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  std::string strList = std::string(" ") + kAudioExtensions + " ";
  return strExt.find(' ') == std::string::npos &&
         strList.find(" " + strExt + " ") != std::string::npos;
}

const char* AudioExtensionList() { return kAudioExtensions; }

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

WalkResult CollectFiles(const std::vector<std::string>& vecPaths, const WalkSettings& settings) {
  Walker walker(settings);
  for (size_t i = 0; i < vecPaths.size() && !walker.Stopped(); ++i) {
    walker.TakeArgument(vecPaths[i], static_cast<int>(i + 1));
  }
  return walker.Take();
}

}  // namespace twintone_cli
