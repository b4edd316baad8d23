#include "Messages.h"

#include <map>

#include "Settings.h"
#include "VelSettingsParser.h"
#include "knn/base/StatusCodes.h"

namespace knncli {

namespace {

namespace Code = KNN_800::Code;

struct Sentence {
    const char* text;       // used when no field is known
    const char* withField;  // used when the status names a field: "%F" stands for its name
};

const std::map<long, Sentence>& Sentences() {
    static const std::map<long, Sentence> table = {
        {Code::Interrupted, {"the run was interrupted", nullptr}},
        {Code::NotConstructed, {"the component could not create its algorithm object", nullptr}},
        {Code::NotBuilt, {"the model has not been built, so it cannot be used yet", nullptr}},
        // Settings parser.
        {VelXML_940::kParserNoDocument,
         {"the settings document was questioned before it was read", nullptr}},
        {VelXML_940::kParserMalformed,
         {"the settings document is not well-formed XML or cannot be read", nullptr}},
        {VelXML_940::kParserStructure,
         {"the settings document has an element, attribute or section that does not belong "
          "there, or lacks a required one",
          nullptr}},
        {VelXML_940::kParserBadValue,
         {"a value in the settings document cannot be read as its declared type", nullptr}},
        {VelXML_940::kParserWrongType,
         {"a settings parameter has another type than the one it is read as", nullptr}},
        {VelXML_940::kParserDictionary,
         {"a field declaration in the settings dictionary is inconsistent", nullptr}},
        // Component: settings.
        {Code::BadSource,
         {"the training data hold no valid case, or their records do not match the dictionary",
          nullptr}},
        {Code::BadSettingsStream,
         {"the settings document could not be read (the stream failed)", nullptr}},
        {Code::BadFeatureCount,
         {"the number of features to select (NSpecifiedFeatures) cannot be read or is out of "
          "range, or a forced variable is not a predictor",
          nullptr}},
        {Code::BadKRange, {"MinK and MaxK must be whole numbers with 0 < MinK < MaxK", nullptr}},
        {Code::BadVFoldValue, {"VFoldValue must be a whole number of at least 2", nullptr}},
        {Code::BadVFoldVar, {"automatic K selection needs a fold field (VFoldVar)", nullptr}},
        {Code::EmptyCaseID, {"the settings name no case-identifier field (CaseIDVar)", nullptr}},
        {Code::PredictorIsTarget, {"a field is both a predictor and a target", nullptr}},
        {Code::BadRescale, {"RescaleMethod must be true or false", nullptr}},
        {Code::BadDistMetric, {"DistMetric must be \"Euclidean\" or \"CityBlock\"", nullptr}},
        {Code::BadPredFunc, {"ComputePredValFunc must be \"Mean\" or \"Median\"", nullptr}},
        {Code::BadFeatureWeight, {"IsFeatureWeight must be true or false", nullptr}},
        {Code::BadFeatureSelection, {"IsFeatureSelection must be true or false", nullptr}},
        {Code::BadAutoFeatureSelection, {"IsAutoFeatureSelection must be true or false", nullptr}},
        {Code::BadSpecifiedK, {"SpecifiedK must be a whole number of at least 1", nullptr}},
        {Code::BadTempDir, {"TempFileDir cannot be read", nullptr}},
        {Code::BadPredictorList, {"the predictor list cannot be read", nullptr}},
        {Code::UnknownPredictor, {"a predictor is not in the dictionary", nullptr}},
        {Code::BadCaseID,
         {"CaseIDVar cannot be read; it must be a string naming a field", nullptr}},
        {Code::BadFocalVar, {"the settings name no focal field (FocalVar)", nullptr}},
        {Code::UnknownTarget, {"a target is not in the dictionary", nullptr}},
        {Code::BadTargetList, {"the target list cannot be read", nullptr}},
        {Code::UnknownFocalVar, {"the focal field (FocalVar) is not in the dictionary", nullptr}},
        {Code::VFoldNotCategorical, {"the fold field (VFoldVar) must be categorical", nullptr}},
        {Code::UnknownVFoldVar, {"the fold field (VFoldVar) is not in the dictionary", nullptr}},
        {Code::NoDeclaredRange,
         {"a continuous field has no declared minimum and maximum (min and max in the "
          "dictionary)",
          nullptr}},
        {Code::NoPredictor, {"the settings name no predictor", nullptr}},
        {Code::BadErrRange, {"SpecifiedErrRange must be a number from 0 to 1", nullptr}},
        {Code::BadForcedVariables, {"ForcedVariables cannot be read", nullptr}},
        {Code::VFoldCountMismatch,
         {"the fold field's number of categories differs from VFoldValue", nullptr}},
        {Code::EmptyRange,
         {"a continuous field has the same declared minimum and maximum",
          "the continuous field %F has the same declared minimum and maximum"}},
        {Code::CaseIDNotContinuous,
         {"the case-identifier field (CaseIDVar) must be continuous", nullptr}},
        {Code::SelectionWithoutTarget,
         {"K selection, feature selection and feature weighting need at least one target",
          nullptr}},
        {Code::NoFeatureLeft,
         {"no feature remains once the identifier, case-label and focal fields are taken out "
          "of the predictors",
          nullptr}},
        {Code::DuplicateField, {"a field is named twice in one list", nullptr}},
        {Code::UnknownForcedVariable, {"a forced variable is not in the dictionary", nullptr}},
        {Code::UnknownCaseID,
         {"the case-identifier field (CaseIDVar) is not in the dictionary", nullptr}},
        {Code::CaseLabelNotCategorical,
         {"the case-label field (CaseLabelVar) must be categorical", nullptr}},
        {Code::UnknownCaseLabel,
         {"the case-label field (CaseLabelVar) is not in the dictionary", nullptr}},
        {Code::BadCaseLabel, {"use_caselabels is true, but CaseLabelVar names no field", nullptr}},
        {Code::CaseLabelNotInCreationDictionary,
         {"the case-label field is not in the host's dictionary", nullptr}},
        {Code::BadSpecifiedFeature,
         {"SpecifiedFeature or SpecifiedFeatureWeight cannot be read, names a field that is not "
          "in the dictionary, or names one twice",
          nullptr}},
        {Code::SpecifiedFeatureConflict,
         {"fixed features (SpecifiedFeature) cannot be combined with K selection, feature "
          "selection or feature weights, and need exactly one weight each",
          nullptr}},
        {Code::TooManyCategories,
         {"a categorical target or predictor has too many categories",
          "the field %F has too many categories for a target or predictor; leave it out or "
          "group its values"}},
        {Code::RangeTooWide,
         {"a continuous field has a declared range too wide to rescale with",
          "the declared range of the field %F is too wide to rescale with"}},
        {Code::BadSpecifiedFeatureWeight,
         {"a weight in SpecifiedFeatureWeight is not a number above 0",
          "the weight given to the feature %F (SpecifiedFeatureWeight) is not a number above 0"}},
        {Code::BadFieldFormat,
         {"fieldFormat must be well-formed XML content, since the model document takes it as "
          "it is",
          nullptr}},
        // Component: data and building.
        {Code::NoValidCase,
         {"no valid case remains after the cases with unusable values are dropped", nullptr}},
        {Code::EmptyFold, {"a cross-validation fold has no valid case", nullptr}},
        {Code::ConstantFeature,
         {"a feature has the same value in every valid case and cannot tell neighbours apart; "
          "leave it out of the predictors",
          "the feature %F has the same value in every valid case and cannot tell neighbours "
          "apart; leave it out of the predictors"}},
        {Code::NoSummary,
         {"feature selection or importance found no model with a target", nullptr}},
        {Code::InvalidTrainingValue,
         {"a training case has an unusable value in a used field",
          "a training case has an unusable value in the field %F"}},
        {Code::SingleCase, {"only one valid case remains; at least two are needed", nullptr}},
        {Code::ErrorOverflow, {"a squared prediction error is too large to represent", nullptr}},
        {Code::FeatureSelectionOverflow,
         {"a squared prediction error became too large to represent during feature selection",
          nullptr}},
        {Code::JointSelectionOverflow,
         {"a squared prediction error became too large to represent during the combined "
          "choice of K and features",
          nullptr}},
        {Code::KSelectionOverflow,
         {"a squared prediction error became too large to represent during automatic K "
          "selection",
          nullptr}},
        {Code::NoNeighbour,
         {"a neighbour search found no neighbour (a distance may be too large to represent)",
          "no distance could be computed along the field %F; check its values and declared "
          "range, or rescale it (RescaleMethod)"}},
        // Component: scoring and the model document.
        {Code::BadScoreRecord,
         {"the record does not fit the model's dictionary",
          "the record cannot be scored: the field %F has no usable value"}},
        {Code::ArchiveWriteFailed,
         {"writing a case table to its temporary file failed (is the disk full?)", nullptr}},
        {Code::ArchiveNotCreated,
         {"a temporary file for the model document could not be created; check that "
          "TempFileDir names a writable directory, with a trailing '/'",
          nullptr}},
        {Code::CaseTablesFailed,
         {"scoring the training cases for the model document failed", nullptr}},
        // Component: any operation.
        {Code::OutOfMemory,
         {"the component ran out of memory; try again with fewer records or fields, or with "
          "more memory free",
          nullptr}},
        {Code::UnexpectedException, {"the component failed unexpectedly", nullptr}},
        {Code::BadModelValues,
         {"the importances given to the component are not one number above 0 per feature",
          nullptr}},
        {Code::BadThreads,
         {"Threads must be 0 (one thread per processor) or a positive number of threads", nullptr}},
        // Warnings.
        {Code::FeatureCountReduced,
         {"NSpecifiedFeatures plus the forced variables is more than the number of features; "
          "fewer features will be selected",
          nullptr}},
        {Code::MaxKReduced,
         {"MaxK was larger than the number of valid cases minus one and has been reduced to "
          "it (and so has MinK where it was larger too)",
          nullptr}},
        {Code::SpecifiedKReduced,
         {"SpecifiedK was larger than the number of valid cases minus one and has been reduced",
          nullptr}},
    };
    return table;
}

}  // namespace

std::string DescribeStatus(const VelCommon_940::VelStatus& status,
                           const AnalysisSettings* settings) {
    const long code = status.GetErrorCode();
    std::string sentence;
    const auto it = Sentences().find(code);
    if (it == Sentences().end()) {
        sentence = std::string("the component reported ") +
                   (status.IsWarning() ? "warning " : "error ") + std::to_string(code);
    } else {
        const long field = status.GetDiscreteDatum(0);
        const bool named = it->second.withField != nullptr && field >= 0 && settings != nullptr &&
                           settings->dictionary != nullptr && field < settings->dictionary->Size();
        sentence = named ? it->second.withField : it->second.text;
        const size_t at = sentence.find("%F");
        if (at != std::string::npos) {
            sentence.replace(at, 2, "\"" + settings->FieldName(static_cast<int>(field)) + "\"");
        }
    }
    if (!status.GetMessage().empty()) {
        sentence += ": " + status.GetMessage();
    }
    return sentence + " (status " + std::to_string(code) + ")";
}

}  // namespace knncli
