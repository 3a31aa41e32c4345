// Strict readers for the command's JSON and CSV output, so that a test proves the
// documents are well-formed rather than merely looking right.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

// Python's reader, made to refuse repeated keys and (through int) NaN and Infinity;
// bytes that are not UTF-8 and lone surrogates fail on the way in or out.
const char kFlattenJson[] = R"(
import json, sys
def pairs(items):
    if len({k for k, _ in items}) != len(items): raise ValueError('repeated key')
    return dict(items)
def walk(path, value):
    if isinstance(value, list): value = dict(enumerate(value)); emit(path + '#', len(value))
    if not isinstance(value, dict): return emit(path, value)
    for key, item in value.items(): walk(f'{path}.{key}' if path else str(key), item)
def emit(path, value):
    text = value if isinstance(value, str) else json.dumps(value)
    sys.stdout.buffer.write(f'{path}\0{text}\0'.encode())
walk('', json.loads(sys.stdin.buffer.read(), object_pairs_hook=pairs, parse_constant=int))
)";

}  // namespace

JsonFields JsonOf(const std::string& strText) {
  TempDir dir;
  CliResult result =
      CliProcess({"-c", kFlattenJson}, "python3", dir.WriteFile("doc.json", strText)).Finish();
  JsonFields fields;
  std::istringstream in(result.strOut);
  std::string strKey, strValue;
  while (std::getline(in, strKey, '\0') && std::getline(in, strValue, '\0')) {
    fields[strKey] = strValue;
  }
  if (result.nExitCode == 0) return fields;
  ADD_FAILURE() << "not valid JSON: " << result.strErr << "\n" << strText;
  return {};
}

CsvRows CsvOf(const std::string& strText) {
  CsvRows rows;
  std::vector<std::string> vecRow(1);
  bool bQuoted = false;
  for (size_t i = 0; i < strText.size(); ++i) {
    char c = strText[i];
    char cNext = i + 1 < strText.size() ? strText[i + 1] : '\0';
    if (bQuoted && c == '"' && cNext == '"') {
      vecRow.back() += strText[i++];
    } else if (bQuoted) {
      bQuoted = c != '"';
      if (bQuoted) vecRow.back() += c;
    } else if (c == '"' && vecRow.back().empty()) {
      bQuoted = true;
    } else if (c == ',') {
      vecRow.emplace_back();
    } else if (c == '\r' && cNext == '\n') {
      rows.push_back(vecRow);
      vecRow.assign(1, std::string());
      ++i;
    } else if (c == '\r' || c == '\n' || c == '"') {
      ADD_FAILURE() << "bare CR, LF or quote at byte " << i << " of\n" << strText;
      return {};
    } else {
      vecRow.back() += c;
    }
  }
  if (!bQuoted && vecRow.size() == 1 && vecRow[0].empty()) return rows;
  ADD_FAILURE() << "the last record is not closed in\n" << strText;
  return {};
}

}  // namespace twintone_cli_test
