// Every option of one analysis, as read from the settings document. Fields are named by the
// dictionary index of the field they refer to (-1: none). The settings reader fills the object
// once; every build then takes a copy of its own, in which the validation of the data may lower
// MaxK or SpecifiedK, and hands that copy on as a const reference.
#pragma once

#include <string>
#include <vector>

namespace KNN_800 {

class KNNSettings final {
public:
    int RescaleMethod = 0;  // 0 normalised to -1 ... 1, 1 raw
    bool IsFeaSelection = false;
    bool IsFeaImportance = false;
    bool IsAutoFeaSelection = false;
    int SpecifiedFeaNum = 0;  // -1 when the automatic stop is used
    int FeatureNum = 0;
    std::vector<int> CatPredictors;
    std::vector<int> ContPredictors;
    std::vector<int> ForcedVariables;
    bool IsFeaWeight = false;
    int DistMetric = 0;          // 0 Euclidean, 1 city block
    int ComputePredValFunc = 0;  // 0 mean, 1 median
    bool IsAutoKSelection = false;
    int SpecifiedK = 3;
    int MinK = 3;
    int MaxK = 5;
    int VFoldValue = 10;
    int VFoldVariable = -1;
    int CaseIDVariable = -1;
    int FocalCaseVariable = -1;
    int FocalCaseValue = 0;
    bool IfSpecifiedFocalCaseVariable = false;
    std::vector<int> CatResponses;
    std::vector<int> ContResponses;
    std::string FileTempDir;
    std::string FileTempName;
    int TotalVarNum = 0;
    double SpecifiedErrRange = 0.01;
    std::vector<int> Features;   // all candidate features, ascending
    std::vector<int> Responses;  // CatResponses then ContResponses
    int CaseLabelVariable = -1;
    std::vector<int> UsedVariables;
    std::vector<int> SpecifiedFeature;
    std::vector<double> SpecifiedFeatureWeight;
    std::string fieldFormat;
    std::string FocalCaseValueText;
    // Threads for the searches of model selection and of the model document's scoring pass:
    // 1 the calling thread alone, 0 one per processor. The results do not depend on it.
    int Threads = 1;

    void SetKRange(int minK, int maxK) {
        MinK = minK;
        MaxK = maxK;
    }
    void SetVFold(int variable, int value) {
        VFoldVariable = variable;
        VFoldValue = value;
    }
    void SetFocalCaseVariable(int variable) {
        FocalCaseVariable = variable;
        FocalCaseValue = 0;
        IfSpecifiedFocalCaseVariable = true;
    }

    bool IsEuclidean() const { return DistMetric == 0; }
    bool IsRescaled() const { return RescaleMethod == 0; }
    bool UsesMedian() const { return ComputePredValFunc == 1; }

    void Display() const;
};

}  // namespace KNN_800
