#include "knn/settings/KNNSettings.h"

#include "VelDisplay.h"

namespace KNN_800 {

using namespace VelDisplay_940;

void KNNSettings::Display() const {
    const long level = 1;
    DisplayText(level, "KNNSettings display start");
    DisplayS("RescaleMethod", RescaleMethod == 1 ? "Not normalized" : "Normalized");
    DisplayS("DistMetric", DistMetric == 1 ? "City block" : "Euclidean");
    DisplayS("ComputePredValFunc", ComputePredValFunc == 1 ? "Median" : "Mean");
    DisplayB("IsFeaImportance", IsFeaImportance);
    DisplayB("IsFeaSelection", IsFeaSelection);
    DisplayB("IsAutoFeaSelection", IsAutoFeaSelection);
    DisplayB("IsFeaWeight", IsFeaWeight);
    DisplayB("IsAutoKSelection", IsAutoKSelection);
    DisplayB("IfSpecifiedFocalCaseVariable", IfSpecifiedFocalCaseVariable);
    DisplayI("TotalVarNum", TotalVarNum);
    DisplayI("FeatureNum", FeatureNum);
    DisplayI("SpecifiedFeaNum", SpecifiedFeaNum);
    DisplayD("SpecifiedErrRange", SpecifiedErrRange);
    DisplayI("SpecifiedK", SpecifiedK);
    DisplayI("MinK", MinK);
    DisplayI("MaxK", MaxK);
    DisplayI("VFoldValue", VFoldValue);
    DisplayI("VFoldVariable", VFoldVariable);
    DisplayI("FocalCaseValue", FocalCaseValue);
    DisplayI("FocalCaseVariable", FocalCaseVariable);
    DisplayI("CaseIDVariable", CaseIDVariable);
    DisplayS("FileTempDir", FileTempDir);
    DisplayS("FileTempName", FileTempName);
    DisplayIV("Forced variable", ForcedVariables);
    DisplayIV("Response categorical variable", CatResponses);
    DisplayIV("Response continuous variable", ContResponses);
    DisplayIV("Feature categorical variable", CatPredictors);
    DisplayIV("Feature continuous variable", ContPredictors);
    DisplayText(level, "End of KNNSettings display");
    DisplayText(level, "");
}

}  // namespace KNN_800
