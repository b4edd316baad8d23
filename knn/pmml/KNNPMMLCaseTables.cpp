// The case tables: "originalData" with every prepared training case in the fields' own terms,
// and per model "neighborsDistances" and (categorical target) "predictionProbability", filled
// by scoring every training case once more. All of them are disk-backed.
#include <algorithm>
#include <memory>

#include "knn/base/ParallelChunks.h"
#include "knn/base/StatusCodes.h"
#include "knn/pmml/KNNPMMLPrediction.h"
#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/predict/KNNPredictionFactory.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using VelXML_940::XMLElement;

std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> KNNPMMLWriter::CreateCaseTable(
    const std::string& name) {
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> table =
        CreateArchive("SimpleTable", "the table " + name);
    if (table != nullptr) {
        table->AddAttribute("name", name);
    }
    return table;
}

KNNPMMLWriter::Element KNNPMMLWriter::WriteOriginalData() {
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> table = CreateCaseTable("originalData");
    if (table == nullptr) {
        return nullptr;
    }
    const int fields = std::min(dictionary.Size(), preparation.RowWidth());
    std::string text = "ID";
    for (int f = 0; f < fields; ++f) {
        text += ';';
        text += FieldName(f);
    }
    AddColumnNames(table.get(), text);

    int caseNumber = 0;
    for (const double* row : preparation.Rows()) {
        if (context.probe.ShouldStop()) {
            Fail(Code::Interrupted, "the export was interrupted");
            break;
        }
        text = std::to_string(++caseNumber);
        for (int f = 0; f < fields; ++f) {
            text += ';';
            cells.AppendText(text, row[f], f);
        }
        table->AddRow(text);
    }
    CheckArchiveStream(table.get());
    return table;
}

void KNNPMMLWriter::WriteNeighborTables(XMLElement& element, size_t m) {
    if (m == 0 && !FillCaseTables()) {
        return;
    }
    if (m < neighbourTables.size()) {
        Attach(element, neighbourTables[m]);
    }
    if (responseCount != 0 && !models[m]->IsContinuous() && m < probabilityTables.size()) {
        Attach(element, probabilityTables[m]);
    }
}

void KNNPMMLWriter::Attach(XMLElement& element, Element& table) {
    if (table == nullptr) {
        return;
    }
    XMLElement* attached = table.get();
    Append(element, std::move(table));  // the model element owns it now
    CheckArchiveStream(attached);
}

bool KNNPMMLWriter::FillCaseTables() {
    neighbourTables.clear();
    probabilityTables.clear();
    summaries.clear();
    for (const KNNSingleResponseModel* single : models) {
        summaries.push_back(single->Summary());
    }
    prediction = std::make_unique<KNNPMMLPrediction>(summaries, &context.probe, &preparation.Rows(),
                                                     settings.TotalVarNum, caseTables);
    prediction->SetThreads(ResolveThreadCount(settings.Threads));

    if (jointScoring) {
        // All models share the first model's tree: one search with the largest K serves
        // every model, each using its own K nearest.
        if (!CreatePassTables(0, models.size())) {
            return false;
        }
        int kMax = 0;
        for (const KNNSingleResponseModel* single : models) {
            kMax = std::max(kMax, single->GetK());
        }
        return ScorePass(*models.front(), kMax);
    }
    // Each model has its own features and weights, hence its own tree: one pass per model.
    // Narrowing the summary list keeps the other models' confusion matrices untouched, and the
    // criteria of each pass are appended in model order.
    for (size_t i = 0; i < models.size(); ++i) {
        if (!CreatePassTables(i, i + 1)) {
            return false;
        }
        prediction->SetSummaries({summaries[i]});
        if (!ScorePass(*models[i], models[i]->GetK())) {
            return false;
        }
    }
    return true;
}

bool KNNPMMLWriter::CreatePassTables(size_t first, size_t end) {
    pass = CaseTablePass();
    for (size_t i = first; i < end; ++i) {
        const KNNSingleResponseModel& single = *models[i];
        // Without case tables the pass still scores every case, for the model-quality tables.
        std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> neighbours;
        if (caseTables) {
            neighbours = CreateCaseTable("neighborsDistances");
            if (neighbours == nullptr) {
                return false;
            }
        }
        pass.neighbourTables.push_back(neighbours.get());
        neighbourTables.push_back(std::move(neighbours));

        const bool continuous = responseCount == 0 || single.IsContinuous();
        std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> probabilities;
        if (caseTables && !continuous) {
            probabilities = CreateCaseTable("predictionProbability");
            if (probabilities == nullptr) {
                return false;
            }
        }
        pass.probabilityTables.push_back(probabilities.get());
        probabilityTables.push_back(std::move(probabilities));
        pass.continuousTarget.push_back(continuous);
        pass.kPerTarget.push_back(single.GetK());

        const int response = single.ResponseIndex();
        pass.responseNames.push_back(response >= 0 ? FieldName(response) : std::string());
        pass.categoryTexts.push_back(response >= 0 && !single.IsContinuous()
                                         ? cells.CategoryTexts(response)
                                         : std::vector<std::string>());
    }
    prediction->Initialise(responseCount == 0, pass.responseNames, pass.kPerTarget,
                           settings.CaseIDVariable, FieldName(settings.CaseIDVariable),
                           pass.continuousTarget, pass.categoryTexts, &pass.neighbourTables,
                           &pass.probabilityTables);
    return true;
}

bool KNNPMMLWriter::ScorePass(KNNSingleResponseModel& single, int K) {
    const VelStatus scored = prediction->ScoreCases(*single.Tree(), {preparation.Rows()}, K);
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
