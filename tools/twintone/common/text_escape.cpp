#include "common/text_escape.h"

#include <cstdio>

namespace twintone_cli {
namespace {

// Length of the well-formed UTF-8 sequence at strBytes[nPos], or 0 when the byte there
// does not start one.
size_t Utf8SequenceLength(const std::string& strBytes, size_t nPos) {
  auto byte = [&strBytes](size_t n) { return static_cast<unsigned char>(strBytes[n]); };
  unsigned char c = byte(nPos);
  if (c < 0x80) return 1;
  size_t nLength = 0;
  unsigned char nLow = 0x80;
  unsigned char nHigh = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    nLength = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    nLength = 3;
    if (c == 0xE0) nLow = 0xA0;   // no overlong forms
    if (c == 0xED) nHigh = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    nLength = 4;
    if (c == 0xF0) nLow = 0x90;
    if (c == 0xF4) nHigh = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (nPos + nLength > strBytes.size()) return 0;
  unsigned char second = byte(nPos + 1);
  if (second < nLow || second > nHigh) return 0;
  for (size_t i = 2; i < nLength; ++i) {
    unsigned char next = byte(nPos + i);
    if (next < 0x80 || next > 0xBF) return 0;
  }
  return nLength;
}

}  // namespace

bool IsValidUtf8(const std::string& strBytes) {
  for (size_t nPos = 0; nPos < strBytes.size();) {
    size_t nLength = Utf8SequenceLength(strBytes, nPos);
    if (nLength == 0) return false;
    nPos += nLength;
  }
  return true;
}

std::string SanitizeUtf8(const std::string& strBytes) {
  std::string strOut;
  strOut.reserve(strBytes.size());
  for (size_t nPos = 0; nPos < strBytes.size();) {
    size_t nLength = Utf8SequenceLength(strBytes, nPos);
    if (nLength == 0) {
      strOut += "\xEF\xBF\xBD";
      ++nPos;
    } else {
      strOut.append(strBytes, nPos, nLength);
      nPos += nLength;
    }
  }
  return strOut;
}

std::string HexBytes(const std::string& strBytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string strOut;
  strOut.reserve(strBytes.size() * 2);
  for (char c : strBytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    strOut += kDigits[byte >> 4];
    strOut += kDigits[byte & 0x0F];
  }
  return strOut;
}

std::string JsonString(const std::string& strBytes) {
  std::string strOut = "\"";
  for (char c : SanitizeUtf8(strBytes)) {
    unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        strOut += "\\\"";
        break;
      case '\\':
        strOut += "\\\\";
        break;
      case '\n':
        strOut += "\\n";
        break;
      case '\r':
        strOut += "\\r";
        break;
      case '\t':
        strOut += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char szEscape[8];
          std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", byte);
          strOut += szEscape;
        } else {
          strOut += c;
        }
    }
  }
  strOut += '"';
  return strOut;
}

std::string CsvField(const std::string& strBytes) {
  std::string strText = SanitizeUtf8(strBytes);
  if (strText.find_first_of(",\"\r\n") == std::string::npos) return strText;
  std::string strOut = "\"";
  for (char c : strText) {
    if (c == '"') strOut += '"';
    strOut += c;
  }
  strOut += '"';
  return strOut;
}

std::string TerminalSafe(const std::string& strBytes) {
  std::string strOut;
  strOut.reserve(strBytes.size());
  for (size_t nPos = 0; nPos < strBytes.size();) {
    size_t nLength = Utf8SequenceLength(strBytes, nPos);
    unsigned char byte = static_cast<unsigned char>(strBytes[nPos]);
    if (nLength == 0) {
      char szEscape[8];
      std::snprintf(szEscape, sizeof(szEscape), "\\x%02x", byte);
      strOut += szEscape;
      nLength = 1;
    } else if (byte < 0x20 || byte == 0x7F) {
      strOut += '?';
    } else {
      strOut.append(strBytes, nPos, nLength);
    }
    nPos += nLength;
  }
  return strOut;
}

}  // namespace twintone_cli
