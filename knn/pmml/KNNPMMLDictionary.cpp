// The sections that describe the data and the settings: "DataDictionary", each model's
// "MiningSchema" and the "MiningBuildTask" settings echo.
#include <algorithm>
#include <string>

#include "knn/api/KNNModel.h"
#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/settings/KNNSettings.h"
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

void KNNPMMLWriter::WriteDataDictionary() {
    XMLElement* dataDictionary = XMLElement::Create("DataDictionary");
    int count = 0;
    for (int i = 0; i < dictionary->Size(); ++i) {
        if (XMLElement* field = WriteDataField(*dictionary->GetVarAt(i), i)) {
            dataDictionary->AddChild(field);
            ++count;
        }
    }
    dataDictionary->AddAttribute("numberOfFields", static_cast<double>(count));
    root->AddChild(dataDictionary);
}

XMLElement* KNNPMMLWriter::WriteDataField(const IVelVariable& variable, int index) {
    XMLElement* field = XMLElement::Create("DataField");
    if (field == nullptr) {
        return nullptr;
    }
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
        const bool isCaseId = name == FieldName(settings->CaseIDVariable);
        field->AddAttribute("dataType", DataType(variable, isCaseId ? "integer" : "double"));
        const auto* continuous = dynamic_cast<const VelXML_940::VelContVar*>(&variable);
        XMLElement* interval = XMLElement::Create("Interval");
        interval->AddAttribute("closure", "openClosed");
        if (continuous != nullptr) {
            interval->AddAttribute("leftMargin", FormatDouble(continuous->GetMin()));
            interval->AddAttribute("rightMargin", FormatDouble(continuous->GetMax()));
        }
        field->AddChild(interval);
    } else if (kind == VelXML_940::kNumericCategorical || kind == VelXML_940::kStringCategorical) {
        field->AddAttribute("optype", "categorical");
        field->AddAttribute(
            "dataType",
            DataType(variable, kind == VelXML_940::kNumericCategorical ? "double" : "string"));
        // A string focal field states which of its values marks a focal case. The schema
        // wants a field's extensions before its values.
        if (index == settings->FocalCaseVariable && kind == VelXML_940::kStringCategorical) {
            XMLElement* extension = CreateProducerExtension("flagTypeTrueValue");
            extension->AddAttribute("value", settings->FocalCaseValueText);
            field->AddChild(extension);
        }
        const VelXML_940::VelCategoryLabels* labels = variable.GetCategoryLabels();
        const std::vector<std::string> displayValues =
            labels != nullptr ? labels->GetLabels() : std::vector<std::string>();
        for (int k = 0; k < variable.GetCategoryCount(); ++k) {
            std::string text;
            if (labels != nullptr) {
                labels->GetValueText(text, k);
            }
            XMLElement* value = XMLElement::Create("Value");
            value->AddAttribute("value", text);
            if (displayValues.size() > static_cast<size_t>(k)) {
                value->AddAttribute("displayValue", displayValues[static_cast<size_t>(k)]);
            }
            value->AddAttribute("property", "valid");
            field->AddChild(value);
        }
    }
    return field;
}

XMLElement* KNNPMMLWriter::WriteMiningSchema(size_t m) {
    const KNNSingleResponseModel& single = *(*models)[m];
    const std::vector<int>& features = single.Features();
    const std::vector<double>& importances = single.Importances();
    const std::vector<double>& weights = single.Weights();

    XMLElement* schema = XMLElement::Create("MiningSchema");
    for (int candidate : settings->Features) {
        XMLElement* field = XMLElement::Create("MiningField");
        field->AddAttribute("name", FieldName(candidate));
        const auto at = std::find(features.begin(), features.end(), candidate);
        if (at == features.end()) {
            field->AddAttribute("usageType", "supplementary");
            schema->AddChild(field);
            continue;
        }
        // Importances and weights follow the model's feature list, whose order is that of
        // selection (forced fields first, then the added ones), not the candidate order.
        const size_t position = static_cast<size_t>(at - features.begin());
        if (settings->IsFeaImportance && position < importances.size()) {
            field->AddAttribute("importance", FormatDouble(importances[position]));
        }
        field->AddAttribute("usageType", "active");
        if (settings->IsFeaWeight && position < weights.size()) {
            XMLElement* weight = XMLElement::Create("Extension");
            weight->AddAttribute("name", "weight");
            weight->AddAttribute("value", FormatDouble(weights[position]));
            field->AddChild(weight);
        }
        schema->AddChild(field);
    }
    if (responseCount > 0) {
        XMLElement* field = XMLElement::Create("MiningField");
        field->AddAttribute("name", FieldName(single.ResponseIndex()));
        field->AddAttribute("usageType", "predicted");
        schema->AddChild(field);
    }
    return schema;
}

void KNNPMMLWriter::WriteBuildTask() {
    XMLElement* task = XMLElement::Create("MiningBuildTask");
    XMLElement* extension = CreateProducerExtension("Orvex Model Settings");
    task->AddChild(extension);
    XMLElement* parameters = XMLElement::Create("Parameters");
    extension->AddChild(parameters);

    const auto typed = [parameters](const std::string& name, const char* type,
                                    const std::string& value) {
        XMLElement* parameter = XMLElement::Create("Parameter");
        parameter->AddAttribute("name", name);
        parameter->AddAttribute("type", type);
        parameter->AddAttribute("value", value);
        parameters->AddChild(parameter);
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
        XMLElement* parameter = XMLElement::Create("Parameter");
        parameter->AddAttribute("name", name);
        XMLElement* values = XMLElement::Create("ListValue");
        for (int index : fields) {
            if (index < 0) {
                continue;
            }
            XMLElement* value = XMLElement::Create("Value");
            value->AddAttribute("value", FieldName(index));
            values->AddChild(value);
        }
        parameter->AddChild(values);
        parameters->AddChild(parameter);
    };

    const KNNSettings& s = *settings;
    field("CaseIDVar", s.CaseIDVariable);
    field("CaseLabelVar", s.CaseLabelVariable);
    field("VFoldVar", s.VFoldVariable);
    field("FocalVar", s.FocalCaseVariable);
    typed("RescaleMethod", "enum", Flag(s.IsRescaled()));
    typed("DistMetric", "enum", s.IsEuclidean() ? "Euclidean" : "CityBlock");
    typed("ComputePredValFunc", "enum", s.UsesMedian() ? "Median" : "Mean");
    typed("use_caselabels", "boolean", Flag(s.CaseLabelVariable != -1));
    typed("IsFeatureImportance", "boolean", Flag(s.IsFeaImportance));
    typed("IsFeatureSelection", "boolean", Flag(s.IsFeaSelection));
    typed("IsAutoFeatureSelection", "boolean", Flag(s.IsAutoFeaSelection));
    typed("IsFeatureWeight", "boolean", Flag(s.IsFeaWeight));
    typed("IsAutoKSelection", "boolean", Flag(s.IsAutoKSelection));
    typed("NSpecifiedFeatures", "integer", std::to_string(s.SpecifiedFeaNum));
    if (s.IsAutoKSelection) {
        typed("MinK", "integer", std::to_string(s.MinK));
        typed("MaxK", "integer", std::to_string(s.MaxK));
    } else {
        typed("SpecifiedK", "integer", std::to_string(s.SpecifiedK));
    }
    typed("VFoldValue", "integer", std::to_string(s.VFoldValue));
    if (s.SpecifiedErrRange != -1.0) {
        typed("SpecifiedErrRange", "double", FormatDouble(s.SpecifiedErrRange));
    }
    typed("TempFileDir", "string", s.FileTempDir);
    list("ForcedVariables", s.ForcedVariables);
    list("target", s.Responses);
    list("inputs", s.Features);

    root->AddChild(task);
}

}  // namespace KNN_800
