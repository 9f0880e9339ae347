// tools/report.h - printing what a run found: the run report as a table or
// as JSON (with the events traced at level 0), and the head of a level's
// JSON object that the commands share. Included by the tool's sources only.
#ifndef ZERA_TOOLS_REPORT_H
#define ZERA_TOOLS_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "json.h"
#include "run_result.h"

namespace tool {

void PrintRunReport(const RunReport &report, std::FILE *out);
void PrintRunReportJson(const RunReport &report, std::FILE *out);

// The fields that open a level's JSON object: its number, component and
// status, as a number and in words.
void WriteLevelJson(uint32_t level, const std::string &component, uint32_t status, JsonWriter *json);

}  // namespace tool

#endif  // ZERA_TOOLS_REPORT_H
