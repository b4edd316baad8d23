// The sections that describe the data and the settings: "DataDictionary", each model's
// "MiningSchema" and the "MiningBuildTask" settings echo.
#include <algorithm>
#include <string>

#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/settings/SettingsKeys.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelXML_940::IVelVariable;
using VelXML_940::XMLElement;

namespace {

const char* Flag(bool value) {
    return value ? "true" : "false";
}

// The data type of a field: its natural type unless its format makes it a date or time.
std::string DataType(const IVelVariable& variable, const std::string& natural) {
    switch (variable.GetFormat()) {
        case VelXML_940::kFormatDate:
            return "date";
        case VelXML_940::kFormatTime:
            return "time";
        case VelXML_940::kFormatDateTime:
            return "dateTime";
        default:
            return natural;
    }
}

}  // namespace

KNNPMMLWriter::Element KNNPMMLWriter::WriteDataDictionary() const {
    Element dataDictionary(XMLElement::Create("DataDictionary"));
    int count = 0;
    for (int i = 0; i < dictionary.Size(); ++i) {
        Append(*dataDictionary, WriteDataField(*dictionary.GetVarAt(i), i));
        ++count;
    }
    dataDictionary->AddAttribute("numberOfFields", static_cast<double>(count));
    return dataDictionary;
}

KNNPMMLWriter::Element KNNPMMLWriter::WriteDataField(const IVelVariable& variable,
                                                     int index) const {
    Element field(XMLElement::Create("DataField"));
    std::string name;
    variable.GetName(name);
    field->AddAttribute("name", name);
    std::string label;
    variable.GetLabel(label);
    if (!label.empty()) {
        field->AddAttribute("displayName", label);
    }

    const int kind = variable.GetKind();
    if (kind == VelXML_940::kContinuous) {
        field->AddAttribute("optype", "continuous");
        const bool isCaseId = name == FieldName(settings.CaseIDVariable);
        field->AddAttribute("dataType", DataType(variable, isCaseId ? "integer" : "double"));
        const auto* continuous = dynamic_cast<const VelXML_940::VelContVar*>(&variable);
        Element interval(XMLElement::Create("Interval"));
        interval->AddAttribute("closure", "openClosed");
        if (continuous != nullptr) {
            interval->AddAttribute("leftMargin", ModelNumber(continuous->GetMin()));
            interval->AddAttribute("rightMargin", ModelNumber(continuous->GetMax()));
        }
        Append(*field, std::move(interval));
    } else if (kind == VelXML_940::kNumericCategorical || kind == VelXML_940::kStringCategorical) {
        field->AddAttribute("optype", "categorical");
        field->AddAttribute(
            "dataType",
            DataType(variable, kind == VelXML_940::kNumericCategorical ? "double" : "string"));
        // A string focal field states which of its values marks a focal case. The schema
        // wants a field's extensions before its values.
        if (index == settings.FocalCaseVariable && kind == VelXML_940::kStringCategorical) {
            Element extension = CreateProducerExtension("flagTypeTrueValue");
            extension->AddAttribute("value", settings.FocalCaseValueText);
            Append(*field, std::move(extension));
        }
        const VelXML_940::VelCategoryLabels* labels = variable.GetCategoryLabels();
        const std::vector<std::string> displayValues =
            labels != nullptr ? labels->GetLabels() : std::vector<std::string>();
        for (int k = 0; k < variable.GetCategoryCount(); ++k) {
            std::string text;
            if (labels != nullptr) {
                labels->GetValueText(text, k);
            }
            Element value(XMLElement::Create("Value"));
            value->AddAttribute("value", text);
            if (displayValues.size() > static_cast<size_t>(k)) {
                value->AddAttribute("displayValue", displayValues[static_cast<size_t>(k)]);
            }
            value->AddAttribute("property", "valid");
            Append(*field, std::move(value));
        }
    }
    // The values that the settings declare missing, so that a reader of the document treats
    // the records it scores as the component would.
    if (const VelXML_940::VelValueTable* table = variable.GetValueTable()) {
        std::vector<std::string> missing;
        for (const double value : table->MissingValues()) {
            missing.push_back(ModelNumber(value));
        }
        missing.insert(missing.end(), table->MissingTexts().begin(), table->MissingTexts().end());
        for (const std::string& text : missing) {
            Element value(XMLElement::Create("Value"));
            value->AddAttribute("value", text);
            value->AddAttribute("property", "missing");
            Append(*field, std::move(value));
        }
    }
    return field;
}

KNNPMMLWriter::Element KNNPMMLWriter::WriteMiningSchema(size_t m) const {
    const KNNSingleResponseModel& single = *models[m];
    const std::vector<int>& features = single.Features();
    const std::vector<double>& importances = single.Importances();
    const std::vector<double>& weights = single.Weights();

    // The candidates, then any fixed feature that is not one of them: the model uses it too.
    std::vector<int> listed = settings.Features;
    for (const int feature : features) {
        if (std::find(listed.begin(), listed.end(), feature) == listed.end()) {
            listed.push_back(feature);
        }
    }
    Element schema(XMLElement::Create("MiningSchema"));
    for (int candidate : listed) {
        Element field(XMLElement::Create("MiningField"));
        field->AddAttribute("name", FieldName(candidate));
        const auto at = std::find(features.begin(), features.end(), candidate);
        if (at == features.end()) {
            field->AddAttribute("usageType", "supplementary");
            Append(*schema, std::move(field));
            continue;
        }
        // Importances and weights follow the model's feature list, whose order is that of
        // selection (forced fields first, then the added ones), not the candidate order.
        const size_t position = static_cast<size_t>(at - features.begin());
        if (settings.IsFeaImportance && position < importances.size()) {
            field->AddAttribute("importance", ModelNumber(importances[position]));
        }
        field->AddAttribute("usageType", "active");
        if (settings.IsFeaWeight && position < weights.size()) {
            Element weight(XMLElement::Create("Extension"));
            weight->AddAttribute("name", "weight");
            weight->AddAttribute("value", ModelNumber(weights[position]));
            Append(*field, std::move(weight));
        }
        Append(*schema, std::move(field));
    }
    if (responseCount > 0) {
        Element field(XMLElement::Create("MiningField"));
        field->AddAttribute("name", FieldName(single.ResponseIndex()));
        field->AddAttribute("usageType", "predicted");
        Append(*schema, std::move(field));
    }
    return schema;
}

KNNPMMLWriter::Element KNNPMMLWriter::WriteBuildTask() const {
    Element task(XMLElement::Create("MiningBuildTask"));
    Element extension = CreateProducerExtension("Orvex Model Settings");
    Element owned(XMLElement::Create("Parameters"));
    XMLElement& parameters = *owned;
    Append(*extension, std::move(owned));
    Append(*task, std::move(extension));

    const auto typed = [&parameters](const std::string& name, const char* type,
                                     const std::string& value) {
        Element parameter(XMLElement::Create("Parameter"));
        parameter->AddAttribute("name", name);
        parameter->AddAttribute("type", type);
        parameter->AddAttribute("value", value);
        Append(parameters, std::move(parameter));
    };
    const auto field = [&](const char* name, int index) {
        if (index >= 0) {
            typed(name, "fieldName", FieldName(index));
        }
    };
    const auto list = [&](const char* name, const std::vector<int>& fields) {
        if (fields.empty()) {
            return;
        }
        Element parameter(XMLElement::Create("Parameter"));
        parameter->AddAttribute("name", name);
        Element values(XMLElement::Create("ListValue"));
        for (int index : fields) {
            if (index < 0) {
                continue;
            }
            Element value(XMLElement::Create("Value"));
            value->AddAttribute("value", FieldName(index));
            Append(*values, std::move(value));
        }
        Append(*parameter, std::move(values));
        Append(parameters, std::move(parameter));
    };

    const KNNSettings& s = settings;
    field(Key::CaseIDVar, s.CaseIDVariable);
    field(Key::CaseLabelVar, s.CaseLabelVariable);
    field(Key::VFoldVar, s.VFoldVariable);
    field(Key::FocalVar, s.FocalCaseVariable);
    typed(Key::RescaleMethod, "enum", Flag(s.IsRescaled()));
    typed(Key::DistMetric, "enum", s.IsEuclidean() ? KeyValue::Euclidean : KeyValue::CityBlock);
    typed(Key::ComputePredValFunc, "enum", s.UsesMedian() ? KeyValue::Median : KeyValue::Mean);
    typed(Key::UseCaseLabels, "boolean", Flag(s.CaseLabelVariable != -1));
    typed("IsFeatureImportance", "boolean", Flag(s.IsFeaImportance));
    typed(Key::IsFeatureSelection, "boolean", Flag(s.IsFeaSelection));
    typed(Key::IsAutoFeatureSelection, "boolean", Flag(s.IsAutoFeaSelection));
    typed(Key::IsFeatureWeight, "boolean", Flag(s.IsFeaWeight));
    typed(Key::IsAutoKSelection, "boolean", Flag(s.IsAutoKSelection));
    typed(Key::NSpecifiedFeatures, "integer", std::to_string(s.SpecifiedFeaNum));
    if (s.IsAutoKSelection) {
        typed(Key::MinK, "integer", std::to_string(s.MinK));
        typed(Key::MaxK, "integer", std::to_string(s.MaxK));
    } else {
        typed(Key::SpecifiedK, "integer", std::to_string(s.SpecifiedK));
    }
    typed(Key::VFoldValue, "integer", std::to_string(s.VFoldValue));
    if (s.SpecifiedErrRange != -1.0) {
        typed(Key::SpecifiedErrRange, "double", FormatDouble(s.SpecifiedErrRange));
    }
    typed(Key::TempFileDir, "string", s.FileTempDir);
    list(Key::ForcedVariables, s.ForcedVariables);
    list("target", s.Responses);
    list("inputs", s.Features);
    // Fixed features and their weights are the model's own: the mining schema lists the
    // candidates in dictionary order and shows no weight unless they are importances.
    list(Key::SpecifiedFeature, s.SpecifiedFeature);
    if (!s.SpecifiedFeature.empty()) {
        Element parameter(XMLElement::Create("Parameter"));
        parameter->AddAttribute("name", Key::SpecifiedFeatureWeight);
        Element values(XMLElement::Create("ListValue"));
        for (const double weight : s.SpecifiedFeatureWeight) {
            Element value(XMLElement::Create("Value"));
            value->AddAttribute("value", ModelNumber(weight));
            Append(*values, std::move(value));
        }
        Append(*parameter, std::move(values));
        Append(parameters, std::move(parameter));
    }
    return task;
}

}  // namespace KNN_800
