// What a file's name says about the audio it holds.
#ifndef TWINTONE_TOOLS_SCAN_AUDIO_FORMAT_H
#define TWINTONE_TOOLS_SCAN_AUDIO_FORMAT_H

#include <string>

namespace twintone_cli {

// The format a file's name says it holds ("FLAC", "MP3", "M4A"; the extension upper-
// cased when unknown) and whether that format is lossless. M4A and MP4 may hold ALAC or
// AAC; they count as lossy.
void DescribeFormat(const std::string& strPath, std::string* pstrFormat, bool* pbLossless);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_AUDIO_FORMAT_H
