// Strict readers for the command's JSON and CSV output, so that a test proves the
// documents are well-formed rather than merely looking right.
#include <gtest/gtest.h>

#include <regex>
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

// Validates the document on standard input against the schema named by argv[1].
const char kValidateJson[] = R"(
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
errors = list(jsonschema.Draft202012Validator(schema).iter_errors(json.load(sys.stdin)))
for error in errors: print(error.json_path, error.message, file=sys.stderr)
sys.exit(1 if errors else 0)
)";

}  // namespace

std::string SchemaViolations(const std::string& strJson) {
  TempDir dir;
  CliResult result = CliProcess({"-c", kValidateJson, TWINTONE_CLI_SCHEMA}, "python3",
                                dir.WriteFile("doc.json", strJson))
                         .Finish();
  return result.nExitCode == 0 ? "" : result.strErr + "\n" + strJson;
}

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
  // A field, quoted with inner quotes doubled or free of quotes, commas and line ends,
  // then the comma or CRLF after it.
  static const std::regex kField(R"(("(?:[^"]|"")*"|[^",\r\n]*)(,|\r\n))"), kQuotes("\"\"");
  CsvRows rows(1);
  size_t nEnd = 0;
  for (std::sregex_iterator it(strText.begin(), strText.end(), kField), itEnd;
       it != itEnd && static_cast<size_t>(it->position()) == nEnd; ++it) {
    std::string strField = (*it)[1];
    if (!strField.empty() && strField[0] == '"') {
      strField = std::regex_replace(strField.substr(1, strField.size() - 2), kQuotes, "\"");
    }
    rows.back().push_back(strField);
    if ((*it)[2] == "\r\n") rows.emplace_back();
    nEnd += static_cast<size_t>(it->length());
  }
  rows.pop_back();  // opened by the last CRLF
  if (nEnd == strText.size()) return rows;
  ADD_FAILURE() << "not CSV from byte " << nEnd << " of\n" << strText;
  return {};
}

}  // namespace twintone_cli_test
