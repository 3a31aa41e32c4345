// Text conversion helpers. Only GBK to UTF-8 (and its reverse) does real work; the
// wide-string helpers are kept for hosts that link against them and return empty
// results. Every call builds its own converter, so all of them may run on any thread.
#include <exception>
#include <string>

#include "iconvcpp.h"
#include "twintone.h"

namespace {

const unsigned long kChunkSize = 1024;

// Converts text with invalid input skipped; any exception, allocation failure
// included, becomes an empty result.
std::string ConvertOrEmpty(const char* pszTo, const char* pszFrom, const std::string& strText) {
  try {
    converter conv(pszTo, pszFrom, true, kChunkSize);
    std::string strOut;
    conv.convert(strText, strOut);
    return strOut;
  } catch (...) {
    return std::string();
  }
}

}  // namespace

// Tag text that TagLib reports as Latin-1 is taken to be GBK. Bytes that are not valid
// GBK (and a lead byte cut off at the end) are left out; ASCII passes unchanged.
std::string ANSIToUTF8(std::string text) { return ConvertOrEmpty("utf8", "gbk", text); }

// The reverse of ANSIToUTF8: UTF-8 in, GBK out. Characters GBK cannot represent and
// invalid UTF-8 bytes are left out; nothing in the library calls it.
std::string UTF8ToANSI(std::string text) { return ConvertOrEmpty("gbk", "utf8", text); }

std::string UnicodeToUTF8(const std::wstring& /*text*/) { return std::string(); }

std::wstring UTF8ToUnicode(std::string /*text*/) { return std::wstring(); }

std::wstring ANSIToUnicode(std::string /*text*/) { return std::wstring(); }

std::string UnicodeToANSI(const std::wstring& /*text*/) { return std::string(); }
