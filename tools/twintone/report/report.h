// The three ways of writing a run out: readable text, JSON and CSV.
#ifndef TWINTONE_TOOLS_REPORT_REPORT_H
#define TWINTONE_TOOLS_REPORT_REPORT_H

#include <cstdio>

#include "common/run_report.h"

namespace twintone_cli {

// Readable text for a person: a block per group, then the summary line.
void WriteTextReport(const RunReport& report, FILE* pOut);
// One JSON document; field names are stable, see report_machine.cpp.
void WriteJsonReport(const RunReport& report, FILE* pOut);
// CSV with a header row, one row per member, CRLF line ends.
void WriteCsvReport(const RunReport& report, FILE* pOut);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_REPORT_REPORT_H
