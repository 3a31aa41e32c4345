// Strict readers for the command's JSON and CSV output, so that a test proves the
// documents are well-formed rather than merely looking right.
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "fixtures/temp_dir.h"

namespace twintone_cli_test {
namespace {

// Python's reader, made to refuse repeated keys, NaN and Infinity; text that is not
// UTF-8 and lone surrogates fail when read or written. Prints NUL-separated pairs.
const char kFlattenJson[] = R"(
import json, sys
def pairs(items):
    if len({k for k, _ in items}) != len(items): raise ValueError('repeated key')
    return dict(items)
def refuse(name): raise ValueError(name)
def walk(path, value):
    if isinstance(value, list): emit(path + '#', len(value))
    if isinstance(value, (dict, list)):
        items = value.items() if isinstance(value, dict) else enumerate(value)
        for key, item in items: walk(f'{path}.{key}' if path else str(key), item)
    else: emit(path, value)
def emit(path, value):
    text = value if isinstance(value, str) else json.dumps(value)
    sys.stdout.buffer.write(path.encode() + b'\0' + text.encode() + b'\0')
walk('', json.loads(sys.stdin.buffer.read(), object_pairs_hook=pairs, parse_constant=refuse))
)";

}  // namespace

JsonFields JsonOf(const std::string& strText) {
  TempDir dir;
  CliResult result = CliProcess({"-c", kFlattenJson}, "python3",
                                dir.WriteFile("doc.json", strText)).Finish();
  if (result.nExitCode != 0) {
    ADD_FAILURE() << "not valid JSON: " << result.strErr << "\n" << strText;
    return {};
  }
  JsonFields fields;
  for (size_t nPos = 0; nPos < result.strOut.size();) {
    size_t nKeyEnd = result.strOut.find('\0', nPos);
    size_t nValueEnd = result.strOut.find('\0', nKeyEnd + 1);
    fields[result.strOut.substr(nPos, nKeyEnd - nPos)] =
        result.strOut.substr(nKeyEnd + 1, nValueEnd - nKeyEnd - 1);
    nPos = nValueEnd + 1;
  }
  return fields;
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
  if (bQuoted || vecRow.size() != 1 || !vecRow[0].empty()) {
    ADD_FAILURE() << "the last record is not closed in\n" << strText;
    return {};
  }
  return rows;
}

}  // namespace twintone_cli_test
