#include "scan/path_intake.h"

#include "twintone.h"

namespace twintone_cli {
namespace {

// The longest path AddToDedupeLists takes.
constexpr size_t kLibraryPathLimit = 2048;

std::string AddErrorText(int nCode) {
  switch (nCode) {
    case -1:
      return "refused by the library (busy)";
    case -3:
      return "no such file or folder";
    default:
      return "refused by the library (code " + std::to_string(nCode) + ")";
  }
}

// Hands one file over; 0, or the library's code. -2 (already loaded) cannot happen for
// a file the walk takes once, and is not a failure if it does.
int HandOver(const FileToLoad& file) {
  bool bRespelled =
      file.strPath.size() > kLibraryPathLimit || file.strPath.find('\\') != std::string::npos;
  int nCode;
  if (!bRespelled) {
    nCode = AddToDedupeLists(file.strPath.c_str(), file.nUserData);
  } else {
    // Empty tags make the run read the file; the path is stored as given.
    tagInMusicDedupInfo info = {};
    info.pszTitle = info.pszArtist = info.pszAlbum = info.pszGenre = "";
    info.pszPath = file.strPath.c_str();
    info.nUserData = file.nUserData;
    nCode = AddToDedupeListsByInfo(&info);
  }
  return nCode == -2 ? 0 : nCode;
}

}  // namespace

int AddPathsToLibrary(const std::vector<std::string>& vecPaths, const WalkSettings& settings,
                      const std::function<void(const std::string&)>& pfnOnError,
                      RunReport* pReport) {
  WalkResult walk = CollectFiles(vecPaths, settings);
  int nErrors = static_cast<int>(walk.vecErrors.size());
  for (const std::string& strMessage : walk.vecErrors) pfnOnError(strMessage);
  for (const FileToLoad& file : walk.vecFiles) {
    if (settings.pbStop != nullptr && settings.pbStop->load()) break;
    int nCode = HandOver(file);
    if (nCode == 0) {
      pReport->vecScanned.push_back(file.facts);
      continue;
    }
    ++nErrors;
    pfnOnError("cannot take in '" + file.strPath + "': " + AddErrorText(nCode));
    walk.vecSkipped.push_back(SkippedFile{file.strPath, AddErrorText(nCode), true});
  }
  pReport->vecSkipped.insert(pReport->vecSkipped.end(), walk.vecSkipped.begin(),
                             walk.vecSkipped.end());
  pReport->bSubfoldersNotSearched = walk.bSubfoldersNotSearched;
  return nErrors;
}

}  // namespace twintone_cli
