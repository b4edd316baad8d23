// The analysis object a host drives: created from a settings document, built once (or again)
// from a record source, then asked to score records and export the model document. No
// exception leaves an operation: Build, Score and Export return it as a status (200076 when
// memory ran out, 200077 otherwise); the others cannot fail, or fall back as noted below.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "IVelAlgorithm.h"
#include "VelVarList.h"
#include "knn/api/KNNModel.h"
#include "knn/base/RunContext.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/settings/SettingsReader.h"

namespace KNN_800 {

class KNNAlgorithm : public VelCommon_940::IVelAlgorithm {
public:
    KNNAlgorithm(std::istream& settingsDocument, VelXML_940::VelVarList* creationDictionary);
    ~KNNAlgorithm() override;
    KNNAlgorithm(const KNNAlgorithm&) = delete;
    KNNAlgorithm& operator=(const KNNAlgorithm&) = delete;

    // After a failure by an exception the algorithm is not built and GetStatus is unchanged,
    // so that a later build starts afresh.
    VelCommon_940::VelStatus Build(VelCommon_940::RecordSource& source) noexcept override;
    bool IsBuilt() noexcept override { return built; }
    // After a failure by an exception `result` may hold part of a result.
    VelCommon_940::VelStatus Score(const VelCommon_940::Record& record, void* options,
                                   std::vector<std::vector<double>>& result) noexcept override;
    // After a failure by an exception `out` may hold the beginning of the document.
    VelCommon_940::VelStatus Export(std::ostream& out,
                                    const VelCommon_940::ExportOptions* options) noexcept override;
    // Without the memory to copy the status's text and data, only its code.
    VelCommon_940::VelStatus GetStatus() noexcept override;
    // Without the memory for a new reporter, progress keeps going where it went before.
    void SetProgressSink(VelCommon_940::ProgressSink* sink) noexcept override;
    void SetInterruptChecker(VelCommon_940::InterruptChecker* checker) noexcept override;
    void Interrupt() noexcept override;
    // Empty without the memory for the text.
    std::string GetVersion() noexcept override;
    const std::vector<VelCommon_940::VelStatus>* GetWarnings() noexcept override;
    // Stops writing at an exception.
    void Display(std::ostream& out) noexcept override;

    virtual VelXML_940::VelVarList* GetDictionary() { return dictionary; }
    virtual VelXML_940::VelVarList* GetTransDictionary() { return dictionary; }
    void SetModelValues(std::vector<double> values) noexcept override;

private:
    VelCommon_940::VelStatus BuildModel(VelCommon_940::RecordSource& source);
    VelCommon_940::VelStatus ScoreRecord(const VelCommon_940::Record& record, void* options,
                                         std::vector<std::vector<double>>& result);
    // Deletes the model and the prepared data.
    void Discard() noexcept;

    std::vector<double> modelValues;
    const KNNSettings* settings = nullptr;         // the reader's; null when reading failed
    VelXML_940::VelVarList* dictionary = nullptr;  // the reader's; null when reading failed
    std::unique_ptr<KNNDataPreparation> preparation;
    std::unique_ptr<KNNModel> model;  // refers to the preparation: goes first
    bool built = false;
    RunContext context;
    VelXML_940::VelVarList* creationDictionary = nullptr;  // not owned
    SettingsReader reader;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
