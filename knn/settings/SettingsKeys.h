// The keys of the settings document that the component reads (docs/settings-format.md), and the
// texts that its keys with a fixed choice of values take. The settings reader asks for them by
// these names, and a host that writes or reads settings documents uses the same ones.
#pragma once

namespace KNN_800 {

namespace Key {
// Roles of fields.
inline constexpr char CaseIDVar[] = "CaseIDVar";
inline constexpr char UseCaseLabels[] = "use_caselabels";
inline constexpr char CaseLabelVar[] = "CaseLabelVar";
inline constexpr char FocalVar[] = "FocalVar";
inline constexpr char FocalCaseValue[] = "FocalCaseValue";
// Distances, predictions and the model document.
inline constexpr char RescaleMethod[] = "RescaleMethod";
inline constexpr char DistMetric[] = "DistMetric";
inline constexpr char TempFileDir[] = "TempFileDir";
inline constexpr char FieldFormat[] = "fieldFormat";
inline constexpr char ComputePredValFunc[] = "ComputePredValFunc";
// How the work is done (never what it gives).
inline constexpr char Threads[] = "Threads";
// Features.
inline constexpr char IsFeatureWeight[] = "IsFeatureWeight";
inline constexpr char IsFeatureSelection[] = "IsFeatureSelection";
inline constexpr char ForcedVariables[] = "ForcedVariables";
inline constexpr char IsAutoFeatureSelection[] = "IsAutoFeatureSelection";
inline constexpr char SpecifiedErrRange[] = "SpecifiedErrRange";
inline constexpr char NSpecifiedFeatures[] = "NSpecifiedFeatures";
inline constexpr char SpecifiedFeature[] = "SpecifiedFeature";
inline constexpr char SpecifiedFeatureWeight[] = "SpecifiedFeatureWeight";
// K and the cross-validation folds.
inline constexpr char IsAutoKSelection[] = "IsAutoKSelection";
inline constexpr char MinK[] = "MinK";
inline constexpr char MaxK[] = "MaxK";
inline constexpr char SpecifiedK[] = "SpecifiedK";
inline constexpr char VFoldVar[] = "VFoldVar";
inline constexpr char VFoldValue[] = "VFoldValue";
}  // namespace Key

// The values of DistMetric and ComputePredValFunc.
namespace KeyValue {
inline constexpr char Euclidean[] = "Euclidean";
inline constexpr char CityBlock[] = "CityBlock";
inline constexpr char Mean[] = "Mean";
inline constexpr char Median[] = "Median";
}  // namespace KeyValue

}  // namespace KNN_800
