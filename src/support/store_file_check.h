// What lies at a fingerprint store's path, found without writing a byte to it, and
// how a new store file is put there whole. A file that is not a store (another
// program's database, anything else) must come out of an open attempt unchanged, so
// the store looks before it opens anything for writing.
#ifndef TWINTONE_SUPPORT_STORE_FILE_CHECK_H
#define TWINTONE_SUPPORT_STORE_FILE_CHECK_H

#include <cstdint>
#include <string>

namespace twintone {

// The application id in the SQLite header of every store ("TwNt"). Stores of the
// first schema carry none; they are known by their tables.
constexpr int32_t kStoreApplicationId = 0x54774E74;

// Looks at strPath read-only. Returns kStoreOk when nothing is there (*pbAbsent set)
// or it is a store of a schema up to nKnownVersion; otherwise kStoreCannotOpen,
// kStoreNewer or kStoreDamaged (fingerprint_store.h) with the reason in *pstrWhy, one
// English phrase that follows the path ("is read-only, ..."). An empty file is
// refused: a store is never empty, since CreateStoreFile puts it in place whole. Any
// thread; keeps no state.
int CheckStoreFile(const std::string& strPath, int nKnownVersion, bool* pbAbsent,
                   std::string* pstrWhy);

// A fresh name beside strPath for building a new store, created empty (mode 0600).
// "" when the folder cannot take it.
std::string MakeStoreBuildFile(const std::string& strPath);

// Moves the finished store at strBuilt to strPath unless something is there by now
// (another process created it first). 0 when moved, else the errno of the failure
// (EEXIST: strPath was taken). strBuilt is removed either way.
int PlaceStoreFile(const std::string& strBuilt, const std::string& strPath);

// Removes a build file and the journal files SQLite may have left beside it.
void DiscardStoreBuildFile(const std::string& strBuilt);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_STORE_FILE_CHECK_H
