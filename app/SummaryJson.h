// The summary of a run as JSON (docs/cli.md, "Summary as JSON").
#pragma once

#include <ostream>
#include <vector>

#include "Data.h"
#include "Run.h"
#include "RunFacts.h"
#include "Settings.h"
#include "VelStatus.h"

namespace knncli {

// The facts the printed summary gives, and those of scoring when `scoring` is not null.
void WriteSummaryJson(std::ostream& out, const RunOptions& options,
                      const AnalysisSettings& settings, const LoadedData& data,
                      const ModelFacts& facts,
                      const std::vector<VelCommon_940::VelStatus>& warnings,
                      const ScoringFacts* scoring);

}  // namespace knncli
