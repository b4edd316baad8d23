// The single pass over the training records: keeps the usable cases as one dense table of
// doubles (one row per valid case, one column per dictionary field) and validates it.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "HostInterfaces.h"
#include "VelStatus.h"
#include "VelVarList.h"
#include "knn/base/RunContext.h"
#include "knn/data/IKNNVariable.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

// A selected feature as the searchers see it: its column in a prepared row and whether it is
// continuous.
struct FeatureEntry {
    int column = 0;
    bool continuous = true;
};

class KNNDataPreparation final {
public:
    // Takes a copy of `settings`, which the validation of the data may adjust (a lowered MaxK
    // or SpecifiedK): the settings of this build, which every later stage reads. The
    // dictionary, the run context and the creation dictionary (may be null) are not owned.
    KNNDataPreparation(const KNNSettings& settings, VelXML_940::VelVarList& dictionary,
                       RunContext& context, VelXML_940::VelVarList* creationDictionary);
    ~KNNDataPreparation();
    KNNDataPreparation(const KNNDataPreparation&) = delete;
    KNNDataPreparation& operator=(const KNNDataPreparation&) = delete;

    VelCommon_940::VelStatus Run(VelCommon_940::RecordSource& source);
    bool MarkUsed(const std::vector<int>& fields);

    const KNNSettings& Settings() const { return settings; }
    // Adjusted by the validation of the data only.
    KNNSettings& MutableSettings() { return settings; }
    VelXML_940::VelVarList& Dictionary() const { return dictionary; }
    const std::vector<double*>& Rows() const { return rows; }
    const std::vector<std::unique_ptr<IKNNVariable>>& Variables() const { return variables; }
    // (dictionary index, 1 continuous / 0 categorical) per field, in dictionary order.
    const std::vector<std::pair<int, int>>& Kinds() const { return kinds; }
    FeatureEntry Entry(int field) const {
        return FeatureEntry{field, kinds[static_cast<size_t>(field)].second == 1};
    }
    int CaseCount() const { return caseCount; }
    int RowWidth() const { return rowWidth; }
    VelCommon_940::VelStatus GetStatus() const { return status; }

    virtual void Display() const;

private:
    void CreateVariables();
    // Reads every record once and appends the valid cases to `data`.
    VelCommon_940::VelStatus ReadRecords(VelCommon_940::RecordSource& source);
    // Gives the case-label field the full category list of the creation dictionary.
    VelCommon_940::VelStatus CopyCaseLabelCategories();

    KNNSettings settings;
    VelXML_940::VelVarList& dictionary;
    RunContext& context;
    std::vector<double> data;
    std::vector<double*> rows;
    std::vector<std::unique_ptr<IKNNVariable>> variables;
    std::vector<std::pair<int, int>> kinds;
    int caseCount = 0;
    int rowWidth = 0;
    VelXML_940::VelVarList* creationDictionary;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
