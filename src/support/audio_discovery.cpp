// Lists the supported audio files directly inside one folder. Runs on the caller's
// thread (intake, under the engine's data lock); keeps no state.
#include <cstdio>
#include <string>
#include <vector>

#include "support/tinydir.h"
#include "twintone.h"

namespace {

// Owns an opened walker record and closes it on every way out of the scope.
class DirWalk {
 public:
  explicit DirWalk(const char* pszPath) { bOpen = tinydir_open(&dir, pszPath) == 0; }
  ~DirWalk() {
    if (bOpen) tinydir_close(&dir);
  }
  DirWalk(const DirWalk&) = delete;
  DirWalk& operator=(const DirWalk&) = delete;

  bool bOpen;
  tinydir_dir dir;
};

}  // namespace

// Regular files only (links followed), in readdir order; subfolders are not entered.
// Unreadable folders and entries that cannot be examined are left out silently.
// files is the caller's: existing elements stay, new paths are appended. A null files
// does nothing.
int GetDirAllAudioFiles(const char* directory, std::vector<std::string>* files) {
  if (files == nullptr) return 0;
  DirWalk walk(directory);
  if (!walk.bOpen) return 0;
  tinydir_dir& dir = walk.dir;
  while (dir.has_more) {
    // The extension comes from the entry's name alone, so the details of other files
    // (covers, playlists, notes) are never read.
    tinydir_file file;
    if (IsSupportPos(GetFilePosfix(dir.entry->d_name), g_pszSupportedAudio) &&
        twintone::ReadEntryCheaply(&dir, &file) == 0 && file.is_regular) {
      files->push_back(file.path);
      printf("load[%s]\n", file.path);
    }
    tinydir_next(&dir);
  }
  return 0;
}
