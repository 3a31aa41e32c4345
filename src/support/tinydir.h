// A small directory walker over opendir/readdir with fixed-size records that the
// caller owns; it allocates nothing.
#ifndef TWINTONE_SUPPORT_TINYDIR_H
#define TWINTONE_SUPPORT_TINYDIR_H

#include <dirent.h>

#define TINYDIR_PATH_MAX 1024
#define TINYDIR_FILENAME_MAX 256

struct tinydir_dir {
  char path[TINYDIR_PATH_MAX];  // as opened, trailing separators removed
  int has_more;                 // 1 while an entry is pending
  DIR* dir_handle;              // owned; closed by tinydir_close
  struct dirent* entry;         // the pending entry
};

struct tinydir_file {
  char path[TINYDIR_PATH_MAX];      // directory path, "/", name
  char name[TINYDIR_FILENAME_MAX];  // entry name
  int is_regular;                   // regular file, links followed
};

// Each returns 0, or -1 with errno set. Order: open; while has_more: readfile, use,
// next; close.
int tinydir_open(tinydir_dir* dir, const char* path);
int tinydir_readfile(const tinydir_dir* dir, tinydir_file* file);
int tinydir_next(tinydir_dir* dir);
void tinydir_close(tinydir_dir* dir);

namespace twintone {

// tinydir_readfile, but an entry that the directory itself reports as a regular file
// is taken as one without a stat of its path. Symbolic links, and file systems that
// do not report types, are stat'ed as tinydir_readfile does.
int ReadEntryCheaply(const tinydir_dir* dir, tinydir_file* file);

}  // namespace twintone

// Lower-case extensions the directory scan takes, each between ";".
extern const char* const g_pszSupportedAudio;

#endif  // TWINTONE_SUPPORT_TINYDIR_H
