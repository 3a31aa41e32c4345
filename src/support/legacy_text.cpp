#include "support/legacy_text.h"

#include "iconvcpp.h"

namespace twintone {

namespace {

// As ANSIToUTF8: 1 KiB of output per iconv call, invalid input skipped.
constexpr unsigned long kChunkSize = 1024;

}  // namespace

const char kDefaultLegacyEncoding[] = "gbk";

std::string LegacyToUTF8(const std::string& strText, const std::string& strEncoding) {
  try {
    converter conv("utf8", strEncoding, true, kChunkSize);  // closes its descriptor
    std::string strOut;
    conv.convert(strText, strOut);
    return strOut;
  } catch (...) {
    return std::string();
  }
}

bool IsKnownLegacyEncoding(const std::string& strEncoding) {
  if (strEncoding.empty()) return false;
  try {
    converter conv("utf8", strEncoding, true, kChunkSize);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace twintone
