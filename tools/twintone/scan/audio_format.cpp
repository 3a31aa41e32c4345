#include "scan/audio_format.h"

#include <cctype>

namespace twintone_cli {
namespace {

struct FormatName {
  const char* pszExtension;
  const char* pszFormat;
  bool bLossless;
};

constexpr FormatName kFormats[] = {
    {"flac", "FLAC", true},     {"wav", "WAV", true},     {"aif", "AIFF", true},
    {"aiff", "AIFF", true},     {"ape", "APE", true},     {"wv", "WavPack", true},
    {"tta", "TTA", true},       {"alac", "ALAC", true},   {"mp3", "MP3", false},
    {"mp2", "MP2", false},      {"mp1", "MP1", false},    {"mpa", "MPA", false},
    {"ogg", "Ogg", false},      {"oga", "Ogg", false},    {"opus", "Opus", false},
    {"m4a", "M4A", false},      {"m4b", "M4B", false},    {"mp4", "MP4", false},
    {"aac", "AAC", false},      {"ac3", "AC-3", false},   {"wma", "WMA", false},
    {"mpc", "Musepack", false},
};

}  // namespace

void DescribeFormat(const std::string& strPath, std::string* pstrFormat, bool* pbLossless) {
  size_t nSlash = strPath.find_last_of('/');
  size_t nDot = strPath.find_last_of('.');
  *pstrFormat = "";
  *pbLossless = false;
  if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) return;
  std::string strExtension = strPath.substr(nDot + 1);
  for (char& c : strExtension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const FormatName& format : kFormats) {
    if (strExtension == format.pszExtension) {
      *pstrFormat = format.pszFormat;
      *pbLossless = format.bLossless;
      return;
    }
  }
  for (char& c : strExtension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  *pstrFormat = strExtension;
}

}  // namespace twintone_cli
