// What a run learnt, for the printed summary and its JSON form: what the model document told
// of the models, and what scoring the --score file gave.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Evaluation.h"
#include "ModelDocument.h"
#include "VelStatus.h"

namespace knncli {

// What the model document told about the models, or why it told nothing.
struct ModelFacts {
    VelCommon_940::VelStatus exported;  // the component's status of writing the document
    int writeError = 0;                 // the cause (errno) of a failed write of the document, or 0
    std::vector<DocumentModel> models;
    std::string problem;  // empty when `models` could be read
};

// What scoring the --score file gave: how many records were scored, why others could not be,
// their values outside the declared ranges, and the error on targets the file knows; `report`
// says it as the summary prints it.
struct ScoringFacts {
    std::string file;
    long records = 0;
    long failed = 0;
    std::map<std::string, long> failures;  // per reason, the records not scored
    std::map<int, long> outOfRange;
    std::optional<Evaluation> evaluation;
    std::string report;
};

}  // namespace knncli
