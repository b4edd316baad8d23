#include "knn/data/KNNDataPreparation.h"

#include <string>

#include "VelDisplay.h"
#include "knn/base/KNNReporter.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNCatVariable.h"
#include "knn/data/KNNContVariable.h"
#include "knn/data/KNNValidateInput.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

namespace {

// Records read between two "cases" progress reports.
constexpr int kRecordsPerReport = 30000;
// Rows reserved before the first record: enough for small data without regrowth, small
// enough not to matter for a narrow table.
constexpr size_t kInitialRows = 1024;

}  // namespace

KNNDataPreparation::KNNDataPreparation(const KNNSettings& settings,
                                       VelXML_940::VelVarList& dictionary, RunContext& context,
                                       VelXML_940::VelVarList* creationDictionary)
    : settings(settings),
      dictionary(dictionary),
      context(context),
      rowWidth(settings.TotalVarNum),
      creationDictionary(creationDictionary) {}

KNNDataPreparation::~KNNDataPreparation() = default;

void KNNDataPreparation::CreateVariables() {
    variables.clear();
    kinds.clear();
    const int fieldCount = dictionary.Size();
    variables.reserve(static_cast<size_t>(fieldCount));
    kinds.reserve(static_cast<size_t>(fieldCount));
    for (int i = 0; i < fieldCount; ++i) {
        const VelXML_940::IVelVariable* host = dictionary.GetVarAt(i);
        if (host != nullptr && host->GetKind() == VelXML_940::kContinuous) {
            variables.push_back(std::make_unique<KNNContVariable>(settings, dictionary, i));
            kinds.emplace_back(i, 1);
        } else {
            variables.push_back(std::make_unique<KNNCatVariable>(settings, dictionary, i));
            kinds.emplace_back(i, 0);
        }
    }
}

bool KNNDataPreparation::MarkUsed(const std::vector<int>& fields) {
    for (const std::unique_ptr<IKNNVariable>& variable : variables) {
        variable->SetUsed(false);
    }
    for (int field : fields) {
        if (field < 0 || static_cast<size_t>(field) >= variables.size()) {
            return false;
        }
        variables[static_cast<size_t>(field)]->SetUsed(true);
    }
    return true;
}

VelStatus KNNDataPreparation::Run(VelCommon_940::RecordSource& source) {
    status = VelStatus();
    CreateVariables();
    MarkUsed(settings.UsedVariables);

    status = ReadRecords(source);
    if (status.IsOK()) {
        rows.clear();
        rows.reserve(static_cast<size_t>(caseCount));
        for (int i = 0; i < caseCount; ++i) {
            rows.push_back(data.data() + static_cast<size_t>(i) * static_cast<size_t>(rowWidth));
        }
        KNNValidateInput validation(*this);
        status = validation.Validate();
    }
    if (!status.IsError()) {
        // A validation warning has already gone to the warning list; the run itself succeeded.
        status = CopyCaseLabelCategories();
    }
    return status;
}

VelStatus KNNDataPreparation::ReadRecords(VelCommon_940::RecordSource& source) {
    data.clear();
    rows.clear();
    caseCount = 0;
    if (!source.Reset()) {
        return Error(Code::BadSource);
    }
    KNNReporter* reporter = context.Reporter();
    if (reporter != nullptr) {
        reporter->Reset();
        reporter->SetStartTime(KNNReporter::Clock());
    }
    // Every record must have one value per field; a prepared variable reads its own column, so
    // a short record would be read past its end.
    const bool widthsAgree = static_cast<size_t>(rowWidth) == variables.size();

    data.reserve(kInitialRows * variables.size());
    VelStatus result;
    int sinceReport = 0;
    const VelCommon_940::Record* record = source.Next();
    while (record != nullptr) {
        if (!widthsAgree || record->Size() != rowWidth) {
            return Error(Code::BadSource);
        }
        bool valid = true;
        for (const std::unique_ptr<IKNNVariable>& variable : variables) {
            if (variable->IsInvalidValue(*record)) {
                valid = false;
                break;
            }
        }
        if (valid) {
            for (const std::unique_ptr<IKNNVariable>& variable : variables) {
                result = variable->AddTrainingValue(*record, data);
                if (!result.IsOK()) {
                    return result;
                }
            }
            ++caseCount;
        }
        if (context.probe.ShouldStop()) {
            return Error(Code::Interrupted);
        }
        if (reporter != nullptr && ++sinceReport == kRecordsPerReport) {
            reporter->SetValues("cases", caseCount, KNNReporter::Clock());
            context.sink->Notify(reporter);
            sinceReport = 0;
        }
        record = source.Next();
    }
    if (caseCount == 0 ||
        data.size() != static_cast<size_t>(caseCount) * static_cast<size_t>(rowWidth)) {
        return Error(Code::BadSource);
    }
    return result;
}

VelStatus KNNDataPreparation::CopyCaseLabelCategories() {
    if (creationDictionary == nullptr) {
        return VelStatus();
    }
    // The host's dictionary at creation knows every case label; the one built from the
    // settings may know only some, and the output names cases by the full list.
    VelXML_940::IVelVariable* label = dictionary.GetVarAt(settings.CaseLabelVariable);
    if (label == nullptr) {
        return Error(Code::UnknownCaseLabel);
    }
    std::string name;
    label->GetName(name);
    VelXML_940::IVelVariable* source =
        creationDictionary->GetVarAt(creationDictionary->FindVariable(name));
    if (source == nullptr) {
        return Error(Code::CaseLabelNotInCreationDictionary);
    }
    auto* target = dynamic_cast<VelXML_940::VelCatVar*>(label);
    const auto* categories = dynamic_cast<const VelXML_940::VelCatVar*>(source);
    if (target == nullptr || categories == nullptr) {
        return Error(Code::CaseLabelNotCategorical);
    }
    *target = *categories;
    return VelStatus();
}

void KNNDataPreparation::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNDataPreparation display start");
    DisplayText(level, "original data");
    DisplayI("Number of valid cases is: ", caseCount);
    DisplayI("Number of original feature is: ", rowWidth);
    std::vector<double> values;
    for (const double* row : rows) {
        values.assign(row, row + rowWidth);
        DisplayDV("case: ", values, false);
    }
    DisplayText(level, "KNNDataPreparation display end");
}

}  // namespace KNN_800
