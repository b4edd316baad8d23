// Status codes of the component. Every code is an error except the three warnings, which are
// created with the warning flag set and never stop a run.
#pragma once

#include "VelStatus.h"

namespace KNN_800 {

namespace Code {
constexpr long Interrupted = 1;
constexpr long NotConstructed = 3;
constexpr long NotBuilt = 6;
constexpr long BadSource = 200001;
constexpr long BadSettingsStream = 200002;
constexpr long NoValidCase = 200004;
constexpr long BadFeatureCount = 200005;
constexpr long BadKRange = 200006;
constexpr long BadVFoldValue = 200007;
constexpr long BadVFoldVar = 200008;
constexpr long EmptyCaseID = 200009;
constexpr long PredictorIsTarget = 200010;
constexpr long BadRescale = 200011;
constexpr long BadDistMetric = 200012;
constexpr long BadPredFunc = 200013;
constexpr long BadFeatureWeight = 200015;
constexpr long BadFeatureSelection = 200016;
constexpr long BadAutoFeatureSelection = 200017;
constexpr long BadSpecifiedK = 200018;
constexpr long BadTempDir = 200019;
constexpr long BadPredictorList = 200021;
constexpr long UnknownPredictor = 200022;
constexpr long BadCaseID = 200026;
constexpr long BadFocalVar = 200027;
constexpr long UnknownTarget = 200028;
constexpr long BadTargetList = 200029;
constexpr long UnknownFocalVar = 200030;
constexpr long VFoldNotCategorical = 200032;
constexpr long EmptyFold = 200034;
constexpr long ConstantFeature = 200035;
constexpr long UnknownVFoldVar = 200036;
constexpr long NoDeclaredRange = 200037;
constexpr long NoPredictor = 200038;
constexpr long BadErrRange = 200039;
constexpr long BadForcedVariables = 200040;
constexpr long VFoldCountMismatch = 200041;
constexpr long EmptyRange = 200042;
constexpr long CaseIDNotContinuous = 200043;
constexpr long SelectionWithoutTarget = 200044;
constexpr long NoSummary = 200046;
constexpr long NoFeatureLeft = 200047;
constexpr long InvalidTrainingValue = 200048;
constexpr long BadScoreRecord = 200049;
constexpr long DuplicateField = 200050;
constexpr long UnknownForcedVariable = 200051;
constexpr long UnknownCaseID = 200052;
constexpr long CaseLabelNotCategorical = 200053;
constexpr long UnknownCaseLabel = 200054;
constexpr long BadCaseLabel = 200055;
constexpr long ArchiveWriteFailed = 200056;
constexpr long ArchiveNotCreated = 200057;
constexpr long SingleCase = 200058;
constexpr long ErrorOverflow = 200059;
constexpr long FeatureSelectionOverflow = 200060;
constexpr long JointSelectionOverflow = 200061;
constexpr long KSelectionOverflow = 200062;
constexpr long CaseTablesFailed = 200063;
constexpr long NoNeighbour = 200064;
constexpr long CaseLabelNotInCreationDictionary = 200065;
constexpr long BadSpecifiedFeature = 200066;
constexpr long SpecifiedFeatureConflict = 200067;
constexpr long FeatureCountReduced = 200068;  // warning
constexpr long MaxKReduced = 200069;          // warning
constexpr long SpecifiedKReduced = 200070;    // warning
constexpr long TooManyCategories = 200071;
constexpr long RangeTooWide = 200072;
constexpr long BadSpecifiedFeatureWeight = 200073;
constexpr long BadFieldFormat = 200074;
constexpr long OutOfMemory = 200076;          // an operation ran out of memory
constexpr long UnexpectedException = 200077;  // an operation failed in an unforeseen way
}  // namespace Code

// An error status with `code`.
inline VelCommon_940::VelStatus Error(long code) {
    return VelCommon_940::VelStatus(code, false);
}
// A warning status with `code`.
inline VelCommon_940::VelStatus Warning(long code) {
    return VelCommon_940::VelStatus(code, true);
}

}  // namespace KNN_800
