// The case tables: "originalData" with every prepared training case in the fields' own terms,
// and per model "neighborsDistances" and (categorical target) "predictionProbability", filled
// by scoring every training case once more. All of them are disk-backed.
#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

#include "VelMV.h"
#include "knn/api/KNNModel.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/pmml/KNNPMMLPrediction.h"
#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/predict/KNNPredictionFactory.h"
#include "knn/settings/KNNSettings.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelCommon_940::VelMV;
using VelCommon_940::VelStatus;
using VelXML_940::XMLElement;

namespace {

// The category number of a stored value (truncated toward zero), or -1 when the value is
// not a number in the int range.
int CategoryNumber(double value) {
    if (!(value > static_cast<double>(INT_MIN) - 1.0 &&
          value < static_cast<double>(INT_MAX) + 1.0)) {
        return -1;
    }
    return static_cast<int>(value);
}

// ';' separates cells and '\' escapes: both get a backslash in front.
std::string EscapeCell(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == ';' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

}  // namespace

XMLElement* KNNPMMLWriter::CreateCaseTable(const std::string& name) {
    std::unique_ptr<XMLElement> table(CreateArchive("SimpleTable", "the table " + name));
    if (table == nullptr) {
        return nullptr;
    }
    table->AddAttribute("name", name);
    return table.release();
}

std::string KNNPMMLWriter::FormatCell(double value, int field) const {
    const VelXML_940::IVelVariable* variable = dictionary->GetVarAt(field);
    if (variable == nullptr) {
        return std::string();
    }
    const VelXML_940::VelValueTable* values = variable->GetValueTable();
    switch (variable->GetKind()) {
        case VelXML_940::kContinuous: {
            const bool rescaled =
                static_cast<size_t>(field) < rescaledColumns.size() && rescaledColumns[field];
            const auto* continuous = dynamic_cast<const VelXML_940::VelContVar*>(variable);
            // A rescaled value is never missing (cases missing a used field were dropped),
            // and it must not be compared with missing values declared in raw units.
            if (rescaled && continuous != nullptr && !VelMV::IsMissing(value)) {
                const double min = continuous->GetMin();
                const double max = continuous->GetMax();
                return FormatDouble((max - min) * (value + 1.0) * 0.5 + min);
            }
            if (VelMV::IsMissing(value) || (values != nullptr && values->IsMissingValue(value))) {
                return FormatDouble(VelMV::Missing());
            }
            return FormatDouble(value);
        }
        case VelXML_940::kNumericCategorical:
            // Not a category (a missing value): the host's missing value.
            return FormatDouble(values != nullptr ? values->GetNumericValue(CategoryNumber(value))
                                                  : VelMV::Missing());
        case VelXML_940::kStringCategorical: {
            std::string text;
            if (value == -1.0 || values == nullptr || values->IsMissingText(FormatDouble(value)) ||
                !values->GetValueText(text, CategoryNumber(value))) {
                return "-1";
            }
            return EscapeCell(text);
        }
        default:
            return std::string();
    }
}

std::vector<std::string> KNNPMMLWriter::CategoryTexts(int field) const {
    std::vector<std::string> texts;
    const VelXML_940::IVelVariable* variable = dictionary->GetVarAt(field);
    const int count = variable != nullptr ? variable->GetCategoryCount() : 0;
    for (int k = 0; k < count; ++k) {
        texts.push_back(FormatCell(static_cast<double>(k), field));
    }
    return texts;
}

XMLElement* KNNPMMLWriter::WriteOriginalData() {
    // Owned here until returned, so that its file goes also after an exception.
    std::unique_ptr<XMLElement> table(CreateCaseTable("originalData"));
    if (table == nullptr) {
        return nullptr;
    }
    const int fields = std::min(dictionary->Size(), preparation->RowWidth());
    std::string text = "ID";
    for (int f = 0; f < fields; ++f) {
        text += ';';
        text += FieldName(f);
    }
    AddColumnNames(table.get(), text);

    int caseNumber = 0;
    for (const double* row : preparation->Rows()) {
        if (probe != nullptr && probe->ShouldStop()) {
            Fail(Code::Interrupted, "the export was interrupted");
            break;
        }
        text = std::to_string(++caseNumber);
        for (int f = 0; f < fields; ++f) {
            text += ';';
            text += FormatCell(row[f], f);
        }
        AddRow(table.get(), text);
    }
    CheckArchiveStream(table.get());
    return table.release();
}

void KNNPMMLWriter::WriteNeighborTables(XMLElement* element, size_t m) {
    if (m == 0 && !FillCaseTables()) {
        return;
    }
    if (m < neighbourTables.size()) {
        Attach(element, neighbourTables[m]);
    }
    if (responseCount != 0 && !(*models)[m]->IsContinuous() && m < probabilityTables.size()) {
        Attach(element, probabilityTables[m]);
    }
}

void KNNPMMLWriter::Attach(XMLElement* element, XMLElement*& table) {
    if (table == nullptr) {
        return;
    }
    element->AddChild(table);
    XMLElement* attached = table;
    table = nullptr;  // the model element owns it now
    CheckArchiveStream(attached);
}

bool KNNPMMLWriter::FillCaseTables() {
    neighbourTables.clear();
    probabilityTables.clear();
    summaries.clear();
    for (const KNNSingleResponseModel* single : *models) {
        summaries.push_back(single->Summary());
    }
    delete prediction;
    prediction =
        new KNNPMMLPrediction(summaries, probe, &preparation->Rows(), settings->TotalVarNum);

    if (jointScoring) {
        // All models share the first model's tree: one search with the largest K serves
        // every model, each using its own K nearest.
        if (!CreatePassTables(0, models->size())) {
            return false;
        }
        int kMax = 0;
        for (const KNNSingleResponseModel* single : *models) {
            kMax = std::max(kMax, single->GetK());
        }
        return ScorePass(*models->front(), kMax);
    }
    // Each model has its own features and weights, hence its own tree: one pass per model.
    // Narrowing the summary list keeps the other models' confusion matrices untouched, and the
    // criteria of each pass are appended in model order.
    for (size_t i = 0; i < models->size(); ++i) {
        if (!CreatePassTables(i, i + 1)) {
            return false;
        }
        prediction->SetSummaries({summaries[i]});
        if (!ScorePass(*(*models)[i], (*models)[i]->GetK())) {
            return false;
        }
    }
    return true;
}

bool KNNPMMLWriter::CreatePassTables(size_t first, size_t end) {
    pass = CaseTablePass();
    for (size_t i = first; i < end; ++i) {
        const KNNSingleResponseModel& single = *(*models)[i];
        // Each table is owned here until the writer's list holds it.
        std::unique_ptr<XMLElement> neighbours(CreateCaseTable("neighborsDistances"));
        if (neighbours == nullptr) {
            return false;
        }
        neighbourTables.push_back(neighbours.get());
        pass.neighbourTables.push_back(neighbours.release());

        const bool continuous = responseCount == 0 || single.IsContinuous();
        std::unique_ptr<XMLElement> probabilities;
        if (!continuous) {
            probabilities.reset(CreateCaseTable("predictionProbability"));
            if (probabilities == nullptr) {
                return false;
            }
        }
        probabilityTables.push_back(probabilities.get());
        pass.probabilityTables.push_back(probabilities.release());
        pass.continuousTarget.push_back(continuous);
        pass.kPerTarget.push_back(single.GetK());

        const int response = single.ResponseIndex();
        pass.responseNames.push_back(response >= 0 ? FieldName(response) : std::string());
        pass.categoryTexts.push_back(response >= 0 && !single.IsContinuous()
                                         ? CategoryTexts(response)
                                         : std::vector<std::string>());
    }
    prediction->Initialise(responseCount == 0, pass.responseNames, pass.kPerTarget,
                           settings->CaseIDVariable, FieldName(settings->CaseIDVariable),
                           pass.continuousTarget, pass.categoryTexts, &pass.neighbourTables,
                           &pass.probabilityTables);
    return true;
}

bool KNNPMMLWriter::ScorePass(KNNSingleResponseModel& single, int K) {
    const VelStatus scored = prediction->ScoreCases(single, preparation->Rows(), kNoFold, K);
    if (scored.IsError()) {
        // Any failure of the scoring pass, an interruption included, is that of the case
        // tables; the message keeps the cause.
        Fail(Code::CaseTablesFailed,
             scored.GetErrorCode() == Code::Interrupted
                 ? std::string("the export was interrupted while scoring the training cases")
                 : "scoring the training cases for the case tables failed with status " +
                       std::to_string(scored.GetErrorCode()));
        return false;
    }
    prediction->ComputeCriteria();
    return true;
}

}  // namespace KNN_800
