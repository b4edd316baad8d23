// What the settings parser keeps of a settings document once libxml2 has read it: the fields,
// the targets and predictors, and every parameter with its declared type and value, each with
// the line it stands on. Internal to the parser library: ParsedSettings.cpp reads a document
// into this form and checks it against the settings format, VelSettingsParser.cpp answers the
// host's questions from it.
#pragma once

#include <cfloat>
#include <string>
#include <unordered_map>
#include <vector>

#include "VelVarList.h"

namespace VelXML_940::parsed {

enum class ParamType { kString, kInt, kDouble, kBool, kStringArray, kDoubleArray };

inline const char* Describe(ParamType type) {
    switch (type) {
        case ParamType::kString:
            return "a string";
        case ParamType::kInt:
            return "an int";
        case ParamType::kDouble:
            return "a double";
        case ParamType::kBool:
            return "a bool";
        case ParamType::kStringArray:
            return "a string array";
        case ParamType::kDoubleArray:
            return "a double array";
    }
    return "an unknown type";
}

inline bool IsArray(ParamType type) {
    return type == ParamType::kStringArray || type == ParamType::kDoubleArray;
}

struct FieldDecl {
    long line = 0;
    std::string name;
    std::string label;
    int kind = kContinuous;
    int format = kFormatNone;
    double min = -DBL_MAX;
    double max = DBL_MAX;
    std::vector<VelCategory> categories;
    std::vector<double> missingValues;
    std::vector<std::string> missingTexts;
};

struct ParamDecl {
    long line = 0;
    ParamType type = ParamType::kString;
    std::string text;  // string value
    int intValue = 0;
    double doubleValue = 0.0;  // also holds an int value, so that a double question can read it
    bool boolValue = false;
    std::vector<std::string> texts;
    std::vector<double> doubles;
};

struct Document {
    std::vector<FieldDecl> fields;
    std::vector<std::string> targets;
    std::vector<std::string> predictors;
    std::unordered_map<std::string, ParamDecl> params;
};

// Raised while walking the document; turned into a status by ParseToDOM.
struct ParseFailure {
    long code;
    std::string message;
};

inline std::string AtLine(long line, const std::string& text) {
    if (line <= 0) {
        return text;
    }
    return "line " + std::to_string(line) + ": " + text;
}

// Reads `text` and checks it against the settings format; throws ParseFailure with the line at
// fault.
Document ParseText(const std::string& text);

}  // namespace VelXML_940::parsed
