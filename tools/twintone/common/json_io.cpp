#include "common/json_io.h"

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/text_escape.h"

namespace twintone_cli {
namespace {

// The field, or null when obj is no object or lacks it. Throws for what is not an
// object at all: a document of the wrong shape.
const Json* Find(const Json& obj, const char* pszKey) {
  if (!obj.is_object()) {
    throw JsonFieldError("an object is expected where '" + std::string(pszKey) + "' is looked for");
  }
  auto it = obj.find(pszKey);
  return it == obj.end() || it->is_null() ? nullptr : &*it;
}

[[noreturn]] void Wrong(const char* pszKey, const char* pszWhat) {
  throw JsonFieldError(std::string("'") + pszKey + "' must be " + pszWhat);
}

}  // namespace

bool ReadDocumentFile(const char* pszWhat, const std::string& strPath, std::string* pstrText,
                      std::string* pstrError) {
  // Looked at before it is opened: a FIFO would block the open, and a device or a
  // folder never ends or cannot be read as text.
  struct stat info;
  if (stat(strPath.c_str(), &info) != 0) {
    *pstrError = std::string("cannot read ") + pszWhat + " " + strPath;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *pstrError = std::string(pszWhat) + " " + strPath + " is not a regular file";
    return false;
  }
  if (info.st_size > kMaxJsonDocumentBytes) {
    *pstrError = std::string(pszWhat) + " " + strPath + " is too large (" +
                 std::to_string(info.st_size) + " bytes)";
    return false;
  }
  std::ifstream in(strPath, std::ios::binary);
  pstrText->clear();
  std::vector<char> buffer(1 << 16);
  // read() reports a failing read through badbit where an iterator would throw; a
  // file that grows while it is read stops at the limit.
  while (in && static_cast<int64_t>(pstrText->size()) <= kMaxJsonDocumentBytes) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    pstrText->append(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  if (!in.eof() || static_cast<int64_t>(pstrText->size()) > kMaxJsonDocumentBytes) {
    *pstrError = std::string("cannot read ") + pszWhat + " " + strPath;
    return false;
  }
  return true;
}

bool ParseJson(const std::string& strText, Json* pDoc, std::string* pstrError) {
  try {
    *pDoc = Json::parse(strText);
    return true;
  } catch (const std::exception& error) {  // nlohmann's parse_error, or no memory left
    *pstrError = error.what();
    return false;
  }
}

std::string DumpJson(const Json& doc, int nIndent) {
  return doc.dump(nIndent, ' ', false, Json::error_handler_t::replace);
}

void ReadField(const Json& obj, const char* pszKey, std::string* pValue, bool bRequired) {
  const Json* pField = Find(obj, pszKey);
  if (pField == nullptr && bRequired) Wrong(pszKey, "given");
  if (pField == nullptr) return;
  if (!pField->is_string()) Wrong(pszKey, "text");
  *pValue = pField->get_ref<const std::string&>();
}

void ReadField(const Json& obj, const char* pszKey, int64_t* pValue, bool bRequired) {
  const Json* pField = Find(obj, pszKey);
  if (pField == nullptr && bRequired) Wrong(pszKey, "given");
  if (pField == nullptr) return;
  bool bFits = pField->is_number_integer() &&
               !(pField->is_number_unsigned() && pField->get<uint64_t>() > INT64_MAX);
  if (!bFits) Wrong(pszKey, "a whole number");
  *pValue = pField->get<int64_t>();
}

void ReadField(const Json& obj, const char* pszKey, std::optional<int64_t>* pValue) {
  int64_t nValue = 0;
  if (Find(obj, pszKey) == nullptr) return;
  ReadField(obj, pszKey, &nValue);
  *pValue = nValue;
}

const Json& ArrayField(const Json& obj, const char* pszKey) {
  const Json* pField = Find(obj, pszKey);
  if (pField == nullptr || !pField->is_array()) Wrong(pszKey, "a list");
  return *pField;
}

void ReadHexField(const Json& obj, const std::string& strKey, std::string* pstrBytes,
                  bool bRequired) {
  std::string strName = strKey + "_hex";
  std::string strHex;
  if (Find(obj, strName.c_str()) == nullptr && !bRequired) return;
  ReadField(obj, strName.c_str(), &strHex, bRequired);
  if (!UnhexBytes(strHex, pstrBytes)) Wrong(strName.c_str(), "hex digits");
}

}  // namespace twintone_cli
