// What the program itself needs to know about a settings document: the dictionary (to map CSV
// columns to fields and to name fields in messages) and the roles of the fields. The component
// reads the same document on its own and remains the judge of every value; this reading only
// fails when the document cannot be parsed at all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "VelVarList.h"

namespace knncli {

struct AnalysisSettings {
    std::string file;  // path, for messages
    std::string text;  // the whole document, handed to the component as it is
    std::unique_ptr<VelXML_940::VelVarList> dictionary;

    // Dictionary indices; -1 (or empty) when the document names no such field or an unknown one.
    int caseId = -1;
    int focal = -1;
    int caseLabel = -1;
    int fold = -1;  // the field named by VFoldVar, whether automatic K selection uses it or not
    std::vector<int> targets;     // in document order
    std::vector<int> features;    // predictors less the identifier, label, focal and fold fields
    std::vector<int> usedFields;  // fields whose value must be valid for a case to be kept

    bool autoK = false;
    bool featureSelection = false;
    bool featureWeight = false;  // importances computed and the features weighted by them

    // True when the component assigns cases to cross-validation folds by the fold field.
    bool UsesFolds() const;

    std::string FieldName(int field) const;
    bool IsCategorical(int field) const;
    // Number of categories of a categorical field, 0 otherwise.
    int CategoryCount(int field) const;
    // Text of category `code` of a field, or the code itself as text when there is none.
    std::string CategoryText(int field, int code) const;
};

// Reads and parses the document at `path`. Throws CliError (settings failure) when the file
// cannot be read or the document is not a valid settings document.
AnalysisSettings LoadSettings(const std::string& path);

// The same from a document already in memory; `file` names it in messages.
AnalysisSettings ParseSettings(const std::string& text, const std::string& file);

}  // namespace knncli
