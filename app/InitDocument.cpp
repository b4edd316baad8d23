// knn init, last step: the settings document, with the notes as comments at its top and a
// comment before each group of parameters that says how to change them by hand.
#include <sstream>

#include "Csv.h"
#include "Errors.h"
#include "InitSteps.h"
#include "SettingsXml.h"
#include "XMLElement.h"
#include "knn/settings/SettingsKeys.h"

namespace knncli {

namespace {

namespace Key = KNN_800::Key;
namespace KeyValue = KNN_800::KeyValue;
using VelXML_940::XMLComment;
using VelXML_940::XMLElement;

// A settings document cannot hold a control character other than tab, line feed and carriage
// return, not even as a reference: a name or value with one would not read back as it is.
const std::string& Writable(const std::string& text, const std::string& what) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            throw CliError(kExitData, what + " " + Quoted(text) +
                                          " holds a control character, which a settings "
                                          "document cannot hold");
        }
    }
    return text;
}

void AddComment(XMLElement& parent, const std::string& text) {
    parent.AddComment(XMLComment::Create(text));
}

const char* Bool(bool value) {
    return value ? "true" : "false";
}

// A field of the dictionary; the name of a column must be writable, those the document adds
// are.
XMLElement& AddField(XMLElement& dictionary, const std::string& name, const char* kind,
                     const std::string& label = "") {
    XMLElement& field = AddElement(dictionary, "Field");
    field.AddAttribute("name", Writable(name, "the column name"));
    field.AddAttribute("kind", kind);
    if (!label.empty()) {
        field.AddAttribute("label", label);
    }
    return field;
}

void AddRange(XMLElement& field, const std::string& min, const std::string& max) {
    field.AddAttribute("min", min);
    field.AddAttribute("max", max);
}

void AddCategories(XMLElement& field, const std::vector<std::string>& values) {
    for (const std::string& value : values) {
        AddElement(field, "Category").AddAttribute("value", Writable(value, "the category"));
    }
}

void AddColumn(XMLElement& dictionary, const Column& column, Kind kind, long records) {
    std::vector<std::string> categories;
    switch (kind) {
        case Kind::kContinuous:
            AddRange(AddField(dictionary, column.name, "continuous"), FormatNumber(column.min),
                     FormatNumber(column.max));
            break;
        case Kind::kRecordNumber:
            AddRange(AddField(dictionary, column.name, "continuous"), "1", std::to_string(records));
            break;
        case Kind::kNumericCategories:
            for (const auto& [value, count] : column.numericValues) {
                categories.push_back(FormatNumber(value));
            }
            AddCategories(AddField(dictionary, column.name, "categorical-numeric"), categories);
            break;
        case Kind::kStringCategories:
            for (const auto& [text, count] : column.texts) {
                categories.push_back(text);
            }
            AddCategories(AddField(dictionary, column.name, "categorical-string"), categories);
            break;
    }
}

void AddDictionary(XMLElement& root, const InitOptions& options, const ScannedData& data,
                   const Plan& plan) {
    XMLElement& dictionary = AddElement(root, "Dictionary");
    for (size_t i = 0; i < data.columns.size(); ++i) {
        if (plan.roles[i] != Role::kLeftOut) {
            AddColumn(dictionary, data.columns[i], plan.kinds[i], data.records);
        }
    }
    if (options.id.empty()) {
        AddRange(AddField(dictionary, plan.idName, "continuous", "Record number"), "1",
                 std::to_string(data.records));
    }
    if (options.focal.empty()) {
        AddCategories(AddField(dictionary, plan.focalName, "categorical-numeric", "Focal record"),
                      {"1"});
    }
    if (plan.k.folds > 0 && options.fold.empty()) {
        std::vector<std::string> folds;
        for (int fold = 1; fold <= plan.k.folds; ++fold) {
            folds.push_back(std::to_string(fold));
        }
        AddCategories(
            AddField(dictionary, plan.foldName, "categorical-numeric", "Cross-validation fold"),
            folds);
    }
}

void AddKParameters(XMLElement& parameters, const KChoice& k, const std::string& foldName) {
    if (!k.automatic) {
        AddComment(parameters,
                   "K is fixed at SpecifiedK. Without a fixed K, knn init writes settings that\n"
                   "let the component choose K by cross-validation.");
        AddParameter(parameters, Key::IsAutoKSelection, "bool", Bool(false));
        return;
    }
    if (k.folds > 0) {
        AddComment(parameters,
                   "K is chosen between MinK and MaxK by cross-validation over VFoldValue folds:\n"
                   "the field VFoldVar gives each record's fold (knn run numbers the records\n"
                   "into folds when the data have no such column). For a fixed K, set\n"
                   "IsAutoKSelection to false; SpecifiedK is then K.");
    } else {
        AddComment(parameters,
                   "K is chosen between MinK and MaxK together with the features: forward\n"
                   "selection runs once for each K, every record predicted from all the\n"
                   "others, so no fold field is used. For a fixed K, set IsAutoKSelection\n"
                   "to false; SpecifiedK is then K.");
    }
    AddParameter(parameters, Key::IsAutoKSelection, "bool", Bool(true));
    AddParameter(parameters, Key::MinK, "int", std::to_string(k.minK));
    AddParameter(parameters, Key::MaxK, "int", std::to_string(k.maxK));
    if (k.folds > 0) {
        AddParameter(parameters, Key::VFoldVar, "string", foldName);
        AddParameter(parameters, Key::VFoldValue, "int", std::to_string(k.folds));
    }
}

void AddSelectionParameters(XMLElement& parameters, const InitOptions& options,
                            const ScannedData& data, const Plan& plan) {
    AddComment(parameters,
               std::string("Forward selection starts from the ForcedVariables, if any, and adds "
                           "one feature\n"
                           "at a time, the one that lowers the error most (each record predicted "
                           "from all\n") +
                   (options.selectAuto ? "the others); it stops when the error changes by less "
                                         "than SpecifiedErrRange."
                                       : "the others); it stops after NSpecifiedFeatures "
                                         "features."));
    AddParameter(parameters, Key::IsFeatureSelection, "bool", Bool(true));
    if (!plan.forced.empty()) {
        XMLElement& forced = AddElement(parameters, "Array");
        forced.AddAttribute("key", Key::ForcedVariables);
        forced.AddAttribute("type", "string");
        for (const size_t i : plan.forced) {
            AddElement(forced, "Item").AddAttribute("value", data.columns[i].name);
        }
    }
    if (!options.selectAuto) {
        AddParameter(parameters, Key::NSpecifiedFeatures, "int",
                     std::to_string(options.selectCount));
        return;
    }
    AddParameter(parameters, Key::IsAutoFeatureSelection, "bool", Bool(true));
    if (options.selectStop) {
        AddParameter(parameters, Key::SpecifiedErrRange, "double",
                     FormatNumber(*options.selectStop));
    }
}

void AddParameters(XMLElement& root, const InitOptions& options, const ScannedData& data,
                   const Plan& plan) {
    XMLElement& parameters = AddElement(root, "Parameters");
    AddParameter(parameters, Key::CaseIDVar, "string", plan.idName);
    AddParameter(parameters, Key::FocalVar, "string", plan.focalName);
    if (options.focal.empty()) {
        AddParameter(parameters, Key::FocalCaseValue, "string", "1");
    }
    AddParameter(parameters, Key::RescaleMethod, "bool", Bool(options.rescale));
    AddParameter(parameters, Key::DistMetric, "string",
                 options.cityBlock ? KeyValue::CityBlock : KeyValue::Euclidean);
    if (options.median) {
        AddParameter(parameters, Key::ComputePredValFunc, "string", KeyValue::Median);
    }
    AddParameter(parameters, Key::TempFileDir, "string",
                 Writable(options.tempDir, "the temporary directory"));
    AddKParameters(parameters, plan.k, plan.foldName);
    AddParameter(parameters, Key::SpecifiedK, "int", std::to_string(plan.k.specifiedK));
    if (options.Selects()) {
        AddSelectionParameters(parameters, options, data, plan);
    }
    if (options.weight) {
        AddComment(parameters,
                   "Feature importances are computed and used as the features' weights.");
        AddParameter(parameters, Key::IsFeatureWeight, "bool", Bool(true));
    }
}

}  // namespace

std::string WriteDocument(const InitOptions& options, const ScannedData& data, const Plan& plan) {
    XMLElement root("Settings");
    root.AddAttribute("version", "1");
    AddComment(root, "Settings inferred by knn init from " + data.path + " (" +
                         std::to_string(data.records) + " records).");
    for (const std::string& note : plan.notes) {
        AddComment(root, "Note: " + note + ".");
    }
    AddDictionary(root, options, data, plan);
    XMLElement& targets = AddElement(root, "Targets");
    for (const size_t i : plan.targets) {
        AddElement(targets, "Target").AddAttribute("name", data.columns[i].name);
    }
    XMLElement& predictors = AddElement(root, "Predictors");
    for (size_t i = 0; i < data.columns.size(); ++i) {
        if (plan.roles[i] == Role::kPredictor) {
            AddElement(predictors, "Predictor").AddAttribute("name", data.columns[i].name);
        }
    }
    AddParameters(root, options, data, plan);
    std::ostringstream xml;
    VelXML_940::WriteTreeUTF8(xml, nullptr, &root, true);
    return xml.str();
}

}  // namespace knncli
