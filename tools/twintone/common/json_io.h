// JSON through nlohmann-json for every document the command writes or reads back:
// reports, the review page's data, journals, plans and fingerprint lines. A document
// read back may be hostile (a plan edited by hand, a damaged journal), so reading never
// throws out of here and a field of the wrong type is refused by name.
#ifndef TWINTONE_TOOLS_COMMON_JSON_IO_H
#define TWINTONE_TOOLS_COMMON_JSON_IO_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

namespace twintone_cli {

// Objects keep their keys in the order they were set: the documents' layouts pin it.
using Json = nlohmann::ordered_json;

// The largest document read back; a plan of a very large library is tens of MiB.
constexpr int64_t kMaxJsonDocumentBytes = int64_t{256} << 20;

// Reads a whole document file of at most kMaxJsonDocumentBytes. False with the reason,
// which names the file as pszWhat ("the plan") and strPath.
bool ReadDocumentFile(const char* pszWhat, const std::string& strPath, std::string* pstrText,
                      std::string* pstrError);

// Parses strText into *pDoc. False with the parser's reason on any fault; never throws.
bool ParseJson(const std::string& strText, Json* pDoc, std::string* pstrError);

// The document as text, compact (nIndent < 0) or indented; text that is not UTF-8 is
// written with U+FFFD in its place (the documents carry such bytes as hex beside it).
std::string DumpJson(const Json& doc, int nIndent = -1);

// A field of a document read back is missing or of another type. Thrown by the
// documents' from_json and the reads below; caught where the document is read.
class JsonFieldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// obj[pszKey] into *pValue. A missing field (or null) leaves *pValue as it is, unless
// bRequired; another type, or a number that is not whole, throws JsonFieldError.
void ReadField(const Json& obj, const char* pszKey, std::string* pValue, bool bRequired = false);
void ReadField(const Json& obj, const char* pszKey, int64_t* pValue, bool bRequired = false);
void ReadField(const Json& obj, const char* pszKey, std::optional<int64_t>* pValue);

// obj[pszKey] when it is an array; else throws JsonFieldError.
const Json& ArrayField(const Json& obj, const char* pszKey);

// "<key>_hex" decoded back to the bytes HexBytes wrote, as ReadField reads; text that is
// not hex throws JsonFieldError too.
void ReadHexField(const Json& obj, const std::string& strKey, std::string* pstrBytes,
                  bool bRequired = false);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_JSON_IO_H
