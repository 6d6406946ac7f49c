// The analyser's two renderings of one report: a table for people and JSON
// for programs. Both print the same figures; the table rounds frequencies and
// levels to 0.01, the JSON keeps full precision.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tools/analysis.h"

// The report as a fixed-layout table, one block per segment and side.
// Frequencies in Hz and levels in dBFS (0 dBFS = sine of peak 32767) to two
// decimals. Pure function.
std::string FormatReportTable(const AnalysisReport& report);

// The report as a JSON document (see the README for the fields); figures that
// do not exist (no tone, so no SFDR) are null, and `warnings` lists the
// report's warnings (empty when there are none). Pure function.
nlohmann::json ReportToJson(const AnalysisReport& report);

// ReportToJson, serialised with two-space indentation. Bytes of the file name
// that are not UTF-8 are replaced, never rejected.
std::string FormatReportJson(const AnalysisReport& report);
