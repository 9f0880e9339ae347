// tools/report.h - printing what the commands found: the run report as a
// table or as JSON, and the parameter tables that inspect and describe
// share. Included by the tool's sources only.
#ifndef ZERA_TOOLS_REPORT_H
#define ZERA_TOOLS_REPORT_H

#include <cstdio>
#include <vector>

#include "json.h"
#include "params.h"
#include "run_session.h"

namespace tool {

void PrintRunReport(const RunReport &report, std::FILE *out);
void PrintRunReportJson(const RunReport &report, std::FILE *out);

// A table of parameters, each line indented by `indent` spaces.
void PrintParams(const std::vector<ParamView> &params, int indent, std::FILE *out);
// The parameters as a JSON array.
void WriteParamsJson(const std::vector<ParamView> &params, JsonWriter *json);

}  // namespace tool

#endif  // ZERA_TOOLS_REPORT_H
