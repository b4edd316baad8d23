// knn init, last step: the settings document, with the notes as comments at its top and a
// comment before each group of parameters that says how to change them by hand.
#include <sstream>

#include "Csv.h"
#include "Errors.h"
#include "InitSteps.h"

namespace knncli {

namespace {

// Attribute text: markup characters escaped; tabs and line breaks as character references so
// that they survive attribute normalisation. Other control characters cannot be written.
std::string Attribute(const std::string& text, const std::string& what = "the name") {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    throw CliError(kExitData, what + " " + Quoted(text) +
                                                  " holds a control character, which a settings "
                                                  "document cannot hold");
                }
                out.push_back(c);
        }
    }
    return out;
}

// Comment text: "--" may not occur inside an XML comment.
std::string CommentText(std::string text) {
    for (size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at)) {
        text.replace(at, 2, "- -");
    }
    if (!text.empty() && text.back() == '-') {
        text.push_back(' ');
    }
    return text;
}

void WriteParameter(std::ostream& xml, const char* key, const char* type,
                    const std::string& value) {
    xml << "    <Parameter key=\"" << key << "\" type=\"" << type << "\" value=\"" << value
        << "\"/>\n";
}

const char* Bool(bool value) {
    return value ? "true" : "false";
}

void WriteCategories(std::ostream& xml, const std::string& name, const char* kind,
                     const std::vector<std::string>& values, const std::string& label = "") {
    xml << "    <Field name=\"" << name << "\" kind=\"" << kind << "\""
        << (label.empty() ? "" : " label=\"" + label + "\"") << ">\n";
    for (const std::string& value : values) {
        xml << "      <Category value=\"" << value << "\"/>\n";
    }
    xml << "    </Field>\n";
}

void WriteField(std::ostream& xml, const Column& column, Kind kind, long records) {
    const std::string name = Attribute(column.name, "the column name");
    std::vector<std::string> categories;
    switch (kind) {
        case Kind::kContinuous:
            xml << "    <Field name=\"" << name << "\" kind=\"continuous\" min=\""
                << FormatNumber(column.min) << "\" max=\"" << FormatNumber(column.max) << "\"/>\n";
            break;
        case Kind::kRecordNumber:
            xml << "    <Field name=\"" << name << "\" kind=\"continuous\" min=\"1\" max=\""
                << records << "\"/>\n";
            break;
        case Kind::kNumericCategories:
            for (const auto& [value, count] : column.numericValues) {
                categories.push_back(FormatNumber(value));
            }
            WriteCategories(xml, name, "categorical-numeric", categories);
            break;
        case Kind::kStringCategories:
            for (const auto& [text, count] : column.texts) {
                categories.push_back(Attribute(text, "the category"));
            }
            WriteCategories(xml, name, "categorical-string", categories);
            break;
    }
}

void WriteDictionary(std::ostream& xml, const InitOptions& options, const ScannedData& data,
                     const Plan& plan) {
    xml << "  <Dictionary>\n";
    for (size_t i = 0; i < data.columns.size(); ++i) {
        if (plan.roles[i] != Role::kLeftOut) {
            WriteField(xml, data.columns[i], plan.kinds[i], data.records);
        }
    }
    if (options.id.empty()) {
        xml << "    <Field name=\"" << Attribute(plan.idName) << "\" kind=\"continuous\" "
            << "label=\"Record number\" min=\"1\" max=\"" << data.records << "\"/>\n";
    }
    if (options.focal.empty()) {
        WriteCategories(xml, Attribute(plan.focalName), "categorical-numeric", {"1"},
                        "Focal record");
    }
    if (plan.k.folds > 0 && options.fold.empty()) {
        std::vector<std::string> folds;
        for (int fold = 1; fold <= plan.k.folds; ++fold) {
            folds.push_back(std::to_string(fold));
        }
        WriteCategories(xml, Attribute(plan.foldName), "categorical-numeric", folds,
                        "Cross-validation fold");
    }
    xml << "  </Dictionary>\n";
}

void WriteKParameters(std::ostream& xml, const KChoice& k, const std::string& foldName) {
    if (!k.automatic) {
        xml << "    <!-- K is fixed at SpecifiedK. Without a fixed K, knn init writes settings "
               "that\n"
               "         let the component choose K by cross-validation. -->\n";
        WriteParameter(xml, "IsAutoKSelection", "bool", "false");
        return;
    }
    if (k.folds > 0) {
        xml << "    <!-- K is chosen between MinK and MaxK by cross-validation over VFoldValue "
               "folds:\n"
               "         the field VFoldVar gives each record's fold (knn run numbers the records\n"
               "         into folds when the data have no such column). For a fixed K, set\n"
               "         IsAutoKSelection to false; SpecifiedK is then K. -->\n";
    } else {
        xml << "    <!-- K is chosen between MinK and MaxK together with the features: forward\n"
               "         selection runs once for each K, every record predicted from all the\n"
               "         others, so no fold field is used. For a fixed K, set IsAutoKSelection\n"
               "         to false; SpecifiedK is then K. -->\n";
    }
    WriteParameter(xml, "IsAutoKSelection", "bool", "true");
    WriteParameter(xml, "MinK", "int", std::to_string(k.minK));
    WriteParameter(xml, "MaxK", "int", std::to_string(k.maxK));
    if (k.folds > 0) {
        WriteParameter(xml, "VFoldVar", "string", Attribute(foldName));
        WriteParameter(xml, "VFoldValue", "int", std::to_string(k.folds));
    }
}

void WriteSelectionParameters(std::ostream& xml, const InitOptions& options,
                              const ScannedData& data, const Plan& plan) {
    xml << "    <!-- Forward selection starts from the ForcedVariables, if any, and adds one "
           "feature\n"
           "         at a time, the one that lowers the error most (each record predicted from "
           "all\n"
        << (options.selectAuto ? "         the others); it stops when the error changes by "
                                 "less than SpecifiedErrRange. -->\n"
                               : "         the others); it stops after NSpecifiedFeatures "
                                 "features. -->\n");
    WriteParameter(xml, "IsFeatureSelection", "bool", "true");
    if (!plan.forced.empty()) {
        xml << "    <Array key=\"ForcedVariables\" type=\"string\">\n";
        for (const size_t i : plan.forced) {
            xml << "      <Item value=\"" << Attribute(data.columns[i].name) << "\"/>\n";
        }
        xml << "    </Array>\n";
    }
    if (!options.selectAuto) {
        WriteParameter(xml, "NSpecifiedFeatures", "int", std::to_string(options.selectCount));
        return;
    }
    WriteParameter(xml, "IsAutoFeatureSelection", "bool", "true");
    if (options.selectStop) {
        WriteParameter(xml, "SpecifiedErrRange", "double", FormatNumber(*options.selectStop));
    }
}

void WriteParameters(std::ostream& xml, const InitOptions& options, const ScannedData& data,
                     const Plan& plan) {
    xml << "  <Parameters>\n";
    WriteParameter(xml, "CaseIDVar", "string", Attribute(plan.idName));
    WriteParameter(xml, "FocalVar", "string", Attribute(plan.focalName));
    if (options.focal.empty()) {
        WriteParameter(xml, "FocalCaseValue", "string", "1");
    }
    WriteParameter(xml, "RescaleMethod", "bool", Bool(options.rescale));
    WriteParameter(xml, "DistMetric", "string", options.cityBlock ? "CityBlock" : "Euclidean");
    if (options.median) {
        WriteParameter(xml, "ComputePredValFunc", "string", "Median");
    }
    WriteParameter(xml, "TempFileDir", "string",
                   Attribute(options.tempDir, "the temporary directory"));
    WriteKParameters(xml, plan.k, plan.foldName);
    WriteParameter(xml, "SpecifiedK", "int", std::to_string(plan.k.specifiedK));
    if (options.Selects()) {
        WriteSelectionParameters(xml, options, data, plan);
    }
    if (options.weight) {
        xml << "    <!-- Feature importances are computed and used as the features' weights. "
               "-->\n";
        WriteParameter(xml, "IsFeatureWeight", "bool", "true");
    }
    xml << "  </Parameters>\n";
}

}  // namespace

std::string WriteDocument(const InitOptions& options, const ScannedData& data, const Plan& plan) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml << "<!-- Settings inferred by knn init from " << CommentText(data.path) << " ("
        << data.records << " records). -->\n";
    for (const std::string& note : plan.notes) {
        xml << "<!-- Note: " << CommentText(note) << ". -->\n";
    }
    xml << "<Settings version=\"1\">\n";
    WriteDictionary(xml, options, data, plan);
    xml << "  <Targets>\n";
    for (const size_t i : plan.targets) {
        xml << "    <Target name=\"" << Attribute(data.columns[i].name) << "\"/>\n";
    }
    xml << "  </Targets>\n  <Predictors>\n";
    for (size_t i = 0; i < data.columns.size(); ++i) {
        if (plan.roles[i] == Role::kPredictor) {
            xml << "    <Predictor name=\"" << Attribute(data.columns[i].name) << "\"/>\n";
        }
    }
    xml << "  </Predictors>\n";
    WriteParameters(xml, options, data, plan);
    xml << "</Settings>\n";
    return xml.str();
}

}  // namespace knncli
