// Reads a settings document through the host settings parser and fills the settings and the
// variable dictionary, checking every key. The first error stops the reading; the only warning
// (a reduced number of features to select) lets it go on.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "VelStatus.h"
#include "VelVarList.h"
#include "knn/settings/KNNSettings.h"

namespace VelXML_940 {
class VelSettingsParser;
}

namespace KNN_800 {

class SettingsReader {
public:
    SettingsReader();
    ~SettingsReader();
    SettingsReader(const SettingsReader&) = delete;
    SettingsReader& operator=(const SettingsReader&) = delete;

    // Creates a new dictionary and settings, owned by this reader, and fills them from the
    // document. The result is the first error, else the warning raised, else OK. An error
    // status carries a message that names the key or field at fault.
    VelCommon_940::VelStatus Read(std::istream& document);

    // Valid after Read, whatever its outcome; meaningful when it succeeded.
    const KNNSettings& Settings() const { return *settings; }
    VelXML_940::VelVarList& Dictionary() const { return *dictionary; }
    VelCommon_940::VelStatus GetStatus() const { return status; }

private:
    void ReadCaseIdentifier();
    void ReadCaseLabel();
    void ReadFocalField();
    void ReadTargets();
    void ReadPredictors();
    void ReadGeneralOptions();
    void ReadPredictionFunction();
    void ReadFeatureOptions();
    void ReadFeatureCount(int forcedNamed);
    void ReadKOptions();
    void ReadSpecifiedFeatures();
    void CheckDeclaredRanges();
    void CheckFoldCount();
    // Fails with 200071, naming the first categorical target or feature that has more than
    // VelCommon_940::kMaxCategories categories.
    void CheckCategoryCounts();
    void CheckSelectionNeedsTarget();

    // Looks up the field named by a string key: its index, or -1 after failing with
    // `unreadable` (parser error or empty value) or `unknown` (not in the dictionary).
    int ReadFieldKey(const char* key, long unreadable, long unknown);
    // Sorts names into categorical and continuous index lists; fails with `unknown` for a name
    // not in the dictionary, else `duplicate` for a name given twice.
    void SortFields(const std::vector<std::string>& names, const char* what, long unknown,
                    std::vector<int>& categorical, std::vector<int>& continuous);
    bool IsCategorical(int field) const;
    bool IsContinuous(int field) const;
    std::string FieldName(int field) const;
    void Fail(long code, const std::string& message);
    void FailFromParser(long code, const std::string& message);
    bool Ok() const { return !status.IsError(); }

    VelCommon_940::VelStatus status;
    std::unique_ptr<KNNSettings> settings;
    std::unique_ptr<VelXML_940::VelVarList> dictionary;
    VelXML_940::VelSettingsParser* parser = nullptr;  // alive during Read only
    bool featureCountReduced = false;
};

}  // namespace KNN_800
