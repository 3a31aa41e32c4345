#include "support/legacy_text.h"

#include <cstdint>
#include <stdexcept>

#include "iconvcpp.h"

namespace twintone {

namespace {

// As ANSIToUTF8: 1 KiB of output per iconv call, invalid input skipped.
constexpr unsigned long kChunkSize = 1024;

// Windows-1252 at 0x80..0x9F. The five bytes it leaves undefined keep their own value,
// as the C1 controls; 0x00..0x7F and 0xA0..0xFF are the code points of their value.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(uint32_t nCode, std::string* pstrOut) {
  if (nCode < 0x80) {
    pstrOut->push_back(static_cast<char>(nCode));
  } else if (nCode < 0x800) {
    pstrOut->push_back(static_cast<char>(0xC0 | (nCode >> 6)));
    pstrOut->push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
  } else {
    pstrOut->push_back(static_cast<char>(0xE0 | (nCode >> 12)));
    pstrOut->push_back(static_cast<char>(0x80 | ((nCode >> 6) & 0x3F)));
    pstrOut->push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
  }
}

std::string Windows1252ToUTF8(const std::string& strText) {
  std::string strOut;
  strOut.reserve(strText.size() * 2);
  for (unsigned char c : strText) {
    AppendUtf8(c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : c, &strOut);
  }
  return strOut;
}

// strText in strEncoding, strictly: false when any byte is invalid there, when the
// encoding is unknown, or when the UTF-8 does not convert back to the same bytes (an
// encoding that reads two byte sequences as one character would merge texts).
bool StrictlyFrom(const std::string& strText, const std::string& strEncoding,
                  std::string* pstrUtf8) {
  try {
    converter("utf8", strEncoding, false, kChunkSize).convert(strText, *pstrUtf8);
    std::string strBack;
    converter(strEncoding, "utf8", false, kChunkSize).convert(*pstrUtf8, strBack);
    return strBack == strText;
  } catch (const std::runtime_error&) {
    return false;
  }
}

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

std::string LegacyToUTF8Whole(const std::string& strText, const std::string& strEncoding) {
  std::string strUtf8;
  return StrictlyFrom(strText, strEncoding, &strUtf8) ? strUtf8 : Windows1252ToUTF8(strText);
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
