// Status codes of the component. Every code is an error except the three warnings, which are
// created with the warning flag set and never stop a run.
#pragma once

#include "VelStatus.h"

// Every status code as X(name, value): the one list from which the named constants and the
// table of all codes below are made, so that a code added here is known everywhere.
#define KNN_STATUS_CODES(X)                                                       \
    X(Interrupted, 1)                                                             \
    X(NotConstructed, 3)                                                          \
    X(NotBuilt, 6)                                                                \
    X(BadSource, 200001)                                                          \
    X(BadSettingsStream, 200002)                                                  \
    X(NoValidCase, 200004)                                                        \
    X(BadFeatureCount, 200005)                                                    \
    X(BadKRange, 200006)                                                          \
    X(BadVFoldValue, 200007)                                                      \
    X(BadVFoldVar, 200008)                                                        \
    X(EmptyCaseID, 200009)                                                        \
    X(PredictorIsTarget, 200010)                                                  \
    X(BadRescale, 200011)                                                         \
    X(BadDistMetric, 200012)                                                      \
    X(BadPredFunc, 200013)                                                        \
    X(BadFeatureWeight, 200015)                                                   \
    X(BadFeatureSelection, 200016)                                                \
    X(BadAutoFeatureSelection, 200017)                                            \
    X(BadSpecifiedK, 200018)                                                      \
    X(BadTempDir, 200019)                                                         \
    X(BadPredictorList, 200021)                                                   \
    X(UnknownPredictor, 200022)                                                   \
    X(BadCaseID, 200026)                                                          \
    X(BadFocalVar, 200027)                                                        \
    X(UnknownTarget, 200028)                                                      \
    X(BadTargetList, 200029)                                                      \
    X(UnknownFocalVar, 200030)                                                    \
    X(VFoldNotCategorical, 200032)                                                \
    X(EmptyFold, 200034)                                                          \
    X(ConstantFeature, 200035)                                                    \
    X(UnknownVFoldVar, 200036)                                                    \
    X(NoDeclaredRange, 200037)                                                    \
    X(NoPredictor, 200038)                                                        \
    X(BadErrRange, 200039)                                                        \
    X(BadForcedVariables, 200040)                                                 \
    X(VFoldCountMismatch, 200041)                                                 \
    X(EmptyRange, 200042)                                                         \
    X(CaseIDNotContinuous, 200043)                                                \
    X(SelectionWithoutTarget, 200044)                                             \
    X(NoSummary, 200046)                                                          \
    X(NoFeatureLeft, 200047)                                                      \
    X(InvalidTrainingValue, 200048)                                               \
    X(BadScoreRecord, 200049)                                                     \
    X(DuplicateField, 200050)                                                     \
    X(UnknownForcedVariable, 200051)                                              \
    X(UnknownCaseID, 200052)                                                      \
    X(CaseLabelNotCategorical, 200053)                                            \
    X(UnknownCaseLabel, 200054)                                                   \
    X(BadCaseLabel, 200055)                                                       \
    X(ArchiveWriteFailed, 200056)                                                 \
    X(ArchiveNotCreated, 200057)                                                  \
    X(SingleCase, 200058)                                                         \
    X(ErrorOverflow, 200059)                                                      \
    X(FeatureSelectionOverflow, 200060)                                           \
    X(JointSelectionOverflow, 200061)                                             \
    X(KSelectionOverflow, 200062)                                                 \
    X(CaseTablesFailed, 200063)                                                   \
    X(NoNeighbour, 200064)                                                        \
    X(CaseLabelNotInCreationDictionary, 200065)                                   \
    X(BadSpecifiedFeature, 200066)                                                \
    X(SpecifiedFeatureConflict, 200067)                                           \
    X(FeatureCountReduced, 200068) /* warning */                                  \
    X(MaxKReduced, 200069)         /* warning */                                  \
    X(SpecifiedKReduced, 200070)   /* warning */                                  \
    X(TooManyCategories, 200071)                                                  \
    X(RangeTooWide, 200072)                                                       \
    X(BadSpecifiedFeatureWeight, 200073)                                          \
    X(BadFieldFormat, 200074)                                                     \
    X(OutOfMemory, 200076)         /* an operation ran out of memory */           \
    X(UnexpectedException, 200077) /* an operation failed in an unforeseen way */ \
    X(BadModelValues, 200078)      /* importances from the host not usable */     \
    X(BadThreads, 200079)

namespace KNN_800 {

namespace Code {
#define KNN_STATUS_CODE_CONSTANT(name, value) inline constexpr long name = value;
KNN_STATUS_CODES(KNN_STATUS_CODE_CONSTANT)
#undef KNN_STATUS_CODE_CONSTANT
}  // namespace Code

// A status code and the name of its constant in Code.
struct StatusCode {
    long value;
    const char* name;
};

// Every status code of the component, in the order of the list.
inline constexpr StatusCode kStatusCodes[] = {
#define KNN_STATUS_CODE_ENTRY(name, value) {value, #name},
    KNN_STATUS_CODES(KNN_STATUS_CODE_ENTRY)
#undef KNN_STATUS_CODE_ENTRY
};

#undef KNN_STATUS_CODES

// An error status with `code`.
inline VelCommon_940::VelStatus Error(long code) {
    return VelCommon_940::VelStatus(code, false);
}
// A warning status with `code`.
inline VelCommon_940::VelStatus Warning(long code) {
    return VelCommon_940::VelStatus(code, true);
}

}  // namespace KNN_800
