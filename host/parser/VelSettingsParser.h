// Reads a settings document (see docs/settings-format.md) and answers the questions an
// analysis component asks of it: the variable dictionary, the target and predictor lists, and
// typed parameters and arrays by key.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "VelExport.h"
#include "VelStatus.h"
#include "VelVarList.h"

namespace VelXML_940 {

// Status codes of the settings parser (errors).
enum VelParserCode : long {
    kParserNoDocument = 100,  // a question was asked before a document was parsed
    kParserMalformed = 101,   // the document is not well-formed XML
    kParserStructure = 102,   // unknown element or attribute, or a required one missing
    kParserBadValue = 103,    // a value that cannot be read as its declared type
    kParserWrongType = 104,   // a parameter asked for as another type than it has
    kParserDictionary = 105,  // an inconsistent field declaration (duplicate name, ...)
};

class VEL_API VelSettingsParser {
public:
    VelSettingsParser();
    ~VelSettingsParser();
    VelSettingsParser(const VelSettingsParser&) = delete;
    VelSettingsParser& operator=(const VelSettingsParser&) = delete;

    VelCommon_940::VelStatus ParseToDOM(std::istream& in);
    VelCommon_940::VelStatus FillVarList(VelVarList& list, bool append);
    VelCommon_940::VelStatus FillTransDict(VelVarList& list);
    VelCommon_940::VelStatus GetTargetVars(std::vector<std::string>& names);
    VelCommon_940::VelStatus GetPredictors(std::vector<std::string>& names);

    // A key absent from the document leaves `value` as it was and reports OK.
    VelCommon_940::VelStatus GetParameter(const char* key, std::string& value, void* reserved);
    VelCommon_940::VelStatus GetParameter(const char* key, int& value, void* reserved);
    VelCommon_940::VelStatus GetParameter(const char* key, double& value, void* reserved);
    VelCommon_940::VelStatus GetParameter(const char* key, bool& value, void* reserved);
    VelCommon_940::VelStatus GetArray(const char* key, std::vector<std::string>& values,
                                      void* reserved);
    VelCommon_940::VelStatus GetArray(const char* key, std::vector<double>& values, void* reserved);

    // What went wrong in the last failing call, naming the line, element or key.
    const std::string& GetLastMessage() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Whether `text` is well-formed XML content, such as may stand between a start tag and its end
// tag: elements, text, CDATA sections, comments, processing instructions, character references
// and the five predefined entity references; no document type declaration and no other entity
// reference. The text is read like a settings document, without network access and without
// loading or expanding external entities. When it is not well-formed, `reason` says why and
// names the line of `text`.
VEL_API bool CheckXMLContent(const std::string& text, std::string& reason);

}  // namespace VelXML_940
