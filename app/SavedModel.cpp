#include "SavedModel.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <sstream>

#include "Csv.h"
#include "Output.h"
#include "SettingsXml.h"
#include "XMLElement.h"
#include "knn/settings/SettingsKeys.h"

namespace knncli {

namespace {

namespace Key = KNN_800::Key;
using VelXML_940::XMLElement;

// An unbounded side of a declared range, as the document writes the largest double.
constexpr const char* kUnbounded = "1.79769313486232e+308";

// What the document lacks, said of it ("it ...").
[[noreturn]] void Missing(const std::string& what) {
    throw ModelDocumentError("it " + what);
}

// The shortest text that reads back as exactly `value`.
std::string Exact(double value) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

void AddArray(XMLElement& parameters, const char* key, const char* type,
              const std::vector<std::string>& items) {
    XMLElement& array = AddElement(parameters, "Array");
    array.AddAttribute("key", key);
    array.AddAttribute("type", type);
    for (const std::string& item : items) {
        AddElement(array, "Item").AddAttribute("value", item);
    }
}

// A bound of a declared range, or nothing for an unbounded side.
std::optional<std::string> Bound(const DocumentField& field,
                                 const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    if (ParseNumber(*text)) {
        return text;
    }
    if (*text == kUnbounded || *text == std::string("-") + kUnbounded) {
        return std::nullopt;
    }
    Missing("gives the field \"" + field.name + "\" the bound \"" + *text +
            "\", which is not a number");
}

void AddDictionary(XMLElement& root, const SavedModel& saved) {
    XMLElement& dictionary = AddElement(root, "Dictionary");
    for (const DocumentField& field : saved.setup.fields) {
        XMLElement& element = AddElement(dictionary, "Field");
        element.AddAttribute("name", field.name);
        const bool continuous = field.optype == "continuous";
        // Numeric categories are numbers, whatever data type their format gives them.
        const bool numeric =
            field.dataType != "string" &&
            std::all_of(field.categories.begin(), field.categories.end(),
                        [](const std::string& value) { return ParseNumber(value).has_value(); });
        if (!continuous && field.optype != "categorical") {
            Missing("gives the field \"" + field.name + "\" the optype \"" + field.optype +
                    "\"; only continuous and categorical fields are known");
        }
        element.AddAttribute("kind", continuous ? "continuous"
                                     : numeric  ? "categorical-numeric"
                                                : "categorical-string");
        if (!field.label.empty()) {
            element.AddAttribute("label", field.label);
        }
        if (field.dataType == "date" || field.dataType == "time" || field.dataType == "dateTime") {
            element.AddAttribute("format",
                                 field.dataType == "dateTime" ? "datetime" : field.dataType);
        }
        if (continuous) {
            if (const auto min = Bound(field, field.min)) {
                element.AddAttribute("min", *min);
            }
            if (const auto max = Bound(field, field.max)) {
                element.AddAttribute("max", *max);
            }
        }
        for (size_t k = 0; k < field.categories.size(); ++k) {
            XMLElement& category = AddElement(element, "Category");
            category.AddAttribute("value", field.categories[k]);
            if (!field.categoryLabels[k].empty()) {
                category.AddAttribute("label", field.categoryLabels[k]);
            }
        }
        // A declared missing value of a numeric field is a number; anything else is a text.
        for (const std::string& missing : field.missing) {
            AddElement(element, "Missing")
                .AddAttribute(numeric && ParseNumber(missing) ? "value" : "text", missing);
        }
    }
}

const std::string& Parameter(const SavedModel& saved, const std::string& name) {
    static const std::string none;
    const auto found = saved.setup.parameters.find(name);
    return found != saved.setup.parameters.end() ? found->second : none;
}

const std::vector<std::string>& List(const SavedModel& saved, const std::string& name) {
    static const std::vector<std::string> none;
    const auto found = saved.setup.lists.find(name);
    return found != saved.setup.lists.end() ? found->second : none;
}

// The features of a model in the order the model uses them, which decides the order in which
// a distance adds them up: selection order (the forced features, then each added one) when
// forward selection chose them, the fixed list when the settings gave one, the candidates
// otherwise. The mining schema lists them in dictionary order only.
std::vector<std::string> FeatureOrder(const SavedModel& saved, const DocumentModel& model) {
    std::vector<std::string> order;
    if (Parameter(saved, Key::IsFeatureSelection) == "true") {
        order = List(saved, Key::ForcedVariables);
        for (const SelectionStep& step : model.steps) {
            if (step.step > 0 && (!model.jointSelection || step.k == model.k)) {
                order.push_back(step.features);
            }
        }
    } else if (saved.setup.lists.count(Key::SpecifiedFeature) > 0) {
        // A fixed feature need not be a candidate, and the mining schema lists only these.
        order = List(saved, Key::SpecifiedFeature);
        for (const DocumentFeature& feature : model.features) {
            if (std::find(order.begin(), order.end(), feature.name) == order.end()) {
                Missing("uses the feature \"" + feature.name + "\" in the model \"" +
                        model.response + "\", which its fixed features do not name");
            }
        }
        return order;
    } else {
        order = List(saved, "inputs");
    }
    std::set<std::string> active;
    for (const DocumentFeature& feature : model.features) {
        active.insert(feature.name);
    }
    if (std::set<std::string>(order.begin(), order.end()) != active ||
        order.size() != active.size()) {
        Missing("does not say in which order the model \"" + model.response +
                "\" uses its features: its mining schema and its settings or "
                "selection history name different features");
    }
    return order;
}

// The weights of the features in `order`: those of the document, or 1 for every feature.
std::vector<std::string> Weights(const SavedModel& saved, const DocumentModel& model,
                                 const std::vector<std::string>& order) {
    const std::vector<std::string>& fixed = List(saved, Key::SpecifiedFeatureWeight);
    if (!fixed.empty()) {
        if (fixed.size() != order.size()) {
            Missing("gives " + std::to_string(fixed.size()) + " fixed weights for " +
                    std::to_string(order.size()) + " fixed features");
        }
        return fixed;
    }
    std::vector<std::string> weights;
    for (const std::string& name : order) {
        const auto feature =
            std::find_if(model.features.begin(), model.features.end(),
                         [&name](const DocumentFeature& f) { return f.name == name; });
        if (feature == model.features.end()) {
            Missing("does not give the weight of the feature \"" + name + "\" of the model \"" +
                    model.response + "\"");
        }
        if (!feature->weight) {
            weights.emplace_back("1");
        } else if (!(*feature->weight > 0.0)) {
            Missing("gives the feature \"" + name + "\" of the model \"" + model.response +
                    "\" a weight that is not a number above 0");
        } else {
            weights.push_back(Exact(*feature->weight));
        }
    }
    return weights;
}

// A settings document for `targets`; with `model`, its K, features and weights are fixed.
std::string SettingsText(const SavedModel& saved, const std::vector<std::string>& targets,
                         const DocumentModel* model) {
    XMLElement root("Settings");
    root.AddAttribute("version", "1");
    AddDictionary(root, saved);
    XMLElement& targetList = AddElement(root, "Targets");
    for (const std::string& name : targets) {
        AddElement(targetList, "Target").AddAttribute("name", name);
    }
    XMLElement& predictors = AddElement(root, "Predictors");
    for (const std::string& name : List(saved, "inputs")) {
        AddElement(predictors, "Predictor").AddAttribute("name", name);
    }
    XMLElement& parameters = AddElement(root, "Parameters");
    for (const char* key : {Key::CaseIDVar, Key::FocalVar, Key::CaseLabelVar}) {
        if (!Parameter(saved, key).empty()) {
            AddParameter(parameters, key, "string", Parameter(saved, key));
        }
    }
    AddParameter(parameters, Key::UseCaseLabels, "bool",
                 Parameter(saved, Key::UseCaseLabels) == "true" ? "true" : "false");
    for (const char* key : {Key::DistMetric, Key::ComputePredValFunc}) {
        AddParameter(parameters, key, "string", Parameter(saved, key));
    }
    AddParameter(parameters, Key::RescaleMethod, "bool", Parameter(saved, Key::RescaleMethod));
    AddParameter(parameters, Key::TempFileDir, "string", SystemTemporaryDirectory());
    AddParameter(parameters, Key::IsAutoKSelection, "bool", "false");
    if (model != nullptr) {
        AddParameter(parameters, Key::SpecifiedK, "int", std::to_string(*model->k));
        const std::vector<std::string> order = FeatureOrder(saved, *model);
        AddArray(parameters, Key::SpecifiedFeature, "string", order);
        AddArray(parameters, Key::SpecifiedFeatureWeight, "double", Weights(saved, *model, order));
    }
    std::ostringstream xml;
    VelXML_940::WriteTreeUTF8(xml, nullptr, &root, true);
    return xml.str();
}

void Check(const SavedModel& saved) {
    if (!saved.setup.echoed) {
        Missing(
            "is not a model document written by knn run --pmml: it has no settings "
            "echo (the MiningBuildTask extension \"Orvex Model Settings\")");
    }
    if (saved.setup.fields.empty()) {
        Missing("has no data dictionary");
    }
    if (!saved.setup.hasOriginalData) {
        Missing(
            "holds no training cases (no \"originalData\" table): it was written "
            "with --compact, which leaves the case tables out, so nothing can be "
            "scored from it; write it again without --compact");
    }
    for (const char* key : {Key::RescaleMethod, Key::DistMetric, Key::ComputePredValFunc}) {
        if (Parameter(saved, key).empty()) {
            Missing(std::string("does not echo the setting ") + key);
        }
    }
    for (const DocumentModel& model : saved.models) {
        if (!model.k || *model.k < 1) {
            Missing("gives the model \"" + model.response +
                    "\" no K (its AnalysisOptions "
                    "table has no usable K)");
        }
    }
}

}  // namespace

SavedModel ReadSavedModel(const std::string& path, const std::function<bool()>& interrupted) {
    SavedModel saved;
    saved.path = path;
    saved.models = ReadModelDocument(path, interrupted, &saved.setup);
    Check(saved);
    const std::vector<std::string>& targets = List(saved, "target");
    saved.settingsText = SettingsText(saved, targets, nullptr);
    for (const DocumentModel& model : saved.models) {
        const std::vector<std::string> own =
            model.response.empty() ? std::vector<std::string>() : std::vector{model.response};
        saved.modelSettings.push_back(SettingsText(saved, own, &model));
    }
    return saved;
}

}  // namespace knncli
