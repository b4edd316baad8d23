#include "Importances.h"

#include <charconv>
#include <cmath>
#include <map>

#include "Errors.h"

namespace knncli {

namespace {

[[noreturn]] void Refuse(const std::string& why) {
    throw CliError(kExitUsage, "--importances: " + why);
}

}  // namespace

std::vector<double> ParseImportances(const std::string& text, const AnalysisSettings& settings) {
    if (!settings.featureWeight) {
        Refuse("the settings do not weight the features by importance (IsFeatureWeight)");
    }
    if (settings.targets.size() != 1) {
        Refuse("importances can be given for one target only");
    }
    if (settings.featureSelection) {
        Refuse("with feature selection the features are not known before the build");
    }
    std::map<int, double> given;  // by dictionary field
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const size_t equals = item.rfind('=');
        if (equals == std::string::npos || equals == 0) {
            Refuse("\"" + item + "\" is not field=value");
        }
        const std::string name = item.substr(0, equals);
        const std::string number = item.substr(equals + 1);
        int field = -1;
        for (const int feature : settings.features) {
            if (settings.FieldName(feature) == name) {
                field = feature;
            }
        }
        if (field < 0) {
            Refuse("\"" + name + "\" is not a feature of the settings");
        }
        double value = 0.0;
        const auto [parsed, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || parsed != number.data() + number.size() ||
            !std::isfinite(value) || value <= 0.0) {
            Refuse("the importance of \"" + name + "\" must be a number above 0, not \"" + number +
                   "\"");
        }
        if (!given.emplace(field, value).second) {
            Refuse("\"" + name + "\" is given twice");
        }
    }
    std::vector<double> values;
    for (const int feature : settings.features) {
        const auto found = given.find(feature);
        if (found == given.end()) {
            Refuse("no importance for the feature \"" + settings.FieldName(feature) + "\"");
        }
        values.push_back(found->second);
    }
    return values;
}

}  // namespace knncli
