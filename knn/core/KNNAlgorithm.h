// The analysis object a host drives: created from a settings document, built once (or again)
// from a record source, then asked to score records and export the model document.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "IVelAlgorithm.h"
#include "VelVarList.h"
#include "knn/core/InterruptionProbe.h"
#include "knn/settings/SettingsReader.h"

namespace KNN_800 {

class KNNDataPreparation;
class KNNModel;

class KNNAlgorithm : public VelCommon_940::IVelAlgorithm {
public:
    KNNAlgorithm(std::istream& settingsDocument, VelXML_940::VelVarList* creationDictionary);
    ~KNNAlgorithm() override;
    KNNAlgorithm(const KNNAlgorithm&) = delete;
    KNNAlgorithm& operator=(const KNNAlgorithm&) = delete;

    VelCommon_940::VelStatus Build(VelCommon_940::RecordSource& source) override;
    bool IsBuilt() override { return built; }
    VelCommon_940::VelStatus Score(const VelCommon_940::Record& record, void* options,
                                   std::vector<std::vector<double>>& result) override;
    VelCommon_940::VelStatus Export(std::ostream& out,
                                    const VelCommon_940::ExportOptions* options) override;
    VelCommon_940::VelStatus GetStatus() override { return status; }
    void SetProgressSink(VelCommon_940::ProgressSink* sink) override;
    void SetInterruptChecker(VelCommon_940::InterruptChecker* checker) override;
    void Interrupt() override;
    std::string GetVersion() override;
    const std::vector<VelCommon_940::VelStatus>* GetWarnings() override;
    void Display(std::ostream& out) override;

    virtual VelXML_940::VelVarList* GetDictionary() { return dictionary; }
    virtual VelXML_940::VelVarList* GetTransDictionary() { return dictionary; }
    virtual void SetModelValues(std::vector<double> values);

private:
    std::vector<double> modelValues;
    KNNSettings* settings = nullptr;               // owned by the reader
    VelXML_940::VelVarList* dictionary = nullptr;  // owned by the reader
    KNNDataPreparation* preparation = nullptr;     // owned
    KNNModel* model = nullptr;                     // owned
    bool built = false;
    InterruptionProbe probe;
    VelXML_940::VelVarList* creationDictionary = nullptr;  // not owned
    SettingsReader reader;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
