// Fuzz inputs saved as files, for the targets that read audio by path.
#ifndef TWINTONE_FUZZ_FUZZ_FILE_H
#define TWINTONE_FUZZ_FUZZ_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

// Saves an input as one file and returns its path. The first byte chooses the file's
// extension: every extension the directory scan accepts, in the order of its list,
// then "txt", then none (the byte taken modulo their number); the remaining bytes
// are the file's content. Every call overwrites the files of earlier calls. The files
// live in a folder of this process's own, removed when the process exits.
std::string SaveAsAudioFile(const uint8_t* pData, size_t nSize);

#endif  // TWINTONE_FUZZ_FUZZ_FILE_H
