// The directory walker. Records are the caller's; the only resource is the DIR
// stream in tinydir_dir, which tinydir_close releases. Keeps no state of its own, so
// walks on separate records may run on any threads.
#include "support/tinydir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

const char* const g_pszSupportedAudio =
    ";aac;alac;ac3;aif;aiff;ape;flac;m4a;mp4;mp3;mp2;mp1;mpa;mpc;ogg;tta;wav;wma;wv;";

namespace {

// Reads the next entry into dir; the end of the directory and a failing readdir both
// end the walk.
void ReadEntry(tinydir_dir* dir) {
  dir->entry = readdir(dir->dir_handle);
  if (dir->entry == nullptr) dir->has_more = 0;
}

}  // namespace

int tinydir_open(tinydir_dir* dir, const char* path) {
  if (dir == nullptr || path == nullptr || path[0] == '\0') {
    errno = EINVAL;
    return -1;
  }
  size_t nLen = std::strlen(path);
  if (nLen >= TINYDIR_PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // A record handed in fresh from the stack holds garbage: clear the handle so the
  // reset below does not take it for an open stream.
  dir->dir_handle = nullptr;
  tinydir_close(dir);

  std::memcpy(dir->path, path, nLen + 1);
  // Trailing separators go, except a leading one: "/" stays "/".
  while (nLen > 1 && (dir->path[nLen - 1] == '/' || dir->path[nLen - 1] == '\\')) {
    dir->path[--nLen] = '\0';
  }

  dir->dir_handle = opendir(path);
  if (dir->dir_handle == nullptr) {
    int nErr = errno;
    tinydir_close(dir);
    errno = nErr;
    return -1;
  }
  dir->has_more = 1;
  ReadEntry(dir);
  return 0;
}

namespace {

// tinydir_readfile's steps up to the file type: checks and fills path and name.
int FillEntry(const tinydir_dir* dir, tinydir_file* file) {
  if (dir == nullptr || file == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (dir->entry == nullptr) {
    errno = ENOENT;
    return -1;
  }
  const char* pszName = dir->entry->d_name;
  size_t nDirLen = std::strlen(dir->path);
  size_t nNameLen = std::strlen(pszName);
  if (nDirLen + nNameLen + 1 >= TINYDIR_PATH_MAX || nNameLen >= TINYDIR_FILENAME_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(file->path, dir->path, nDirLen);
  file->path[nDirLen] = '/';
  std::memcpy(file->path + nDirLen + 1, pszName, nNameLen + 1);
  std::memcpy(file->name, pszName, nNameLen + 1);
  return 0;
}

}  // namespace

int tinydir_readfile(const tinydir_dir* dir, tinydir_file* file) {
  if (FillEntry(dir, file) != 0) return -1;
  struct stat st;
  if (stat(file->path, &st) != 0) return -1;
  file->is_regular = S_ISREG(st.st_mode) ? 1 : 0;
  return 0;
}

int twintone::ReadEntryCheaply(const tinydir_dir* dir, tinydir_file* file) {
  if (dir != nullptr && dir->entry != nullptr && dir->entry->d_type == DT_REG) {
    if (FillEntry(dir, file) != 0) return -1;
    file->is_regular = 1;
    return 0;
  }
  return tinydir_readfile(dir, file);
}

int tinydir_next(tinydir_dir* dir) {
  if (dir == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (dir->has_more == 0) {
    errno = ENOENT;
    return -1;
  }
  ReadEntry(dir);
  return 0;
}

void tinydir_close(tinydir_dir* dir) {
  if (dir == nullptr) return;
  std::memset(dir->path, 0, sizeof(dir->path));
  dir->has_more = 0;
  if (dir->dir_handle != nullptr) closedir(dir->dir_handle);
  dir->dir_handle = nullptr;
  dir->entry = nullptr;
}
