// Sentences for the status codes of the component and of the settings parser.
#pragma once

#include <string>

#include "VelStatus.h"

namespace knncli {

struct AnalysisSettings;

// One sentence for `status`: what went wrong in the user's terms, naming the field when the
// status carries one (and `settings` can name it), followed by the status's own explanation
// when it has one, and the code, e.g. for Code::ConstantFeature
//   the feature "x" has the same value in every valid case ... (status <its number>)
std::string DescribeStatus(const VelCommon_940::VelStatus& status,
                           const AnalysisSettings* settings);

}  // namespace knncli
