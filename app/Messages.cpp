#include "Messages.h"

#include <map>

#include "Settings.h"

namespace knncli {

namespace {

struct Sentence {
    const char* text;       // used when no field is known
    const char* withField;  // used when the status names a field: "%F" stands for its name
};

const std::map<long, Sentence>& Sentences() {
    static const std::map<long, Sentence> table = {
        {1, {"the run was interrupted", nullptr}},
        {3, {"the component could not create its algorithm object", nullptr}},
        {6, {"the model has not been built, so it cannot be used yet", nullptr}},
        // Settings parser.
        {100, {"the settings document was questioned before it was read", nullptr}},
        {101, {"the settings document is not well-formed XML or cannot be read", nullptr}},
        {102,
         {"the settings document has an element, attribute or section that does not belong "
          "there, or lacks a required one",
          nullptr}},
        {103, {"a value in the settings document cannot be read as its declared type", nullptr}},
        {104, {"a settings parameter has another type than the one it is read as", nullptr}},
        {105, {"a field declaration in the settings dictionary is inconsistent", nullptr}},
        // Component: settings.
        {200001,
         {"the training data hold no valid case, or their records do not match the dictionary",
          nullptr}},
        {200002, {"the settings document could not be read (the stream failed)", nullptr}},
        {200005,
         {"the number of features to select (NSpecifiedFeatures) cannot be read or is out of "
          "range, or a forced variable is not a predictor",
          nullptr}},
        {200006, {"MinK and MaxK must be whole numbers with 0 < MinK < MaxK", nullptr}},
        {200007, {"VFoldValue must be a whole number of at least 2", nullptr}},
        {200008, {"automatic K selection needs a fold field (VFoldVar)", nullptr}},
        {200009, {"the settings name no case-identifier field (CaseIDVar)", nullptr}},
        {200010, {"a field is both a predictor and a target", nullptr}},
        {200011, {"RescaleMethod must be true or false", nullptr}},
        {200012, {"DistMetric must be \"Euclidean\" or \"CityBlock\"", nullptr}},
        {200013, {"ComputePredValFunc must be \"Mean\" or \"Median\"", nullptr}},
        {200015, {"IsFeatureWeight must be true or false", nullptr}},
        {200016, {"IsFeatureSelection must be true or false", nullptr}},
        {200017, {"IsAutoFeatureSelection must be true or false", nullptr}},
        {200018, {"SpecifiedK must be a whole number of at least 1", nullptr}},
        {200019, {"TempFileDir cannot be read", nullptr}},
        {200021, {"the predictor list cannot be read", nullptr}},
        {200022, {"a predictor is not in the dictionary", nullptr}},
        {200026, {"CaseIDVar cannot be read; it must be a string naming a field", nullptr}},
        {200027, {"the settings name no focal field (FocalVar)", nullptr}},
        {200028, {"a target is not in the dictionary", nullptr}},
        {200029, {"the target list cannot be read", nullptr}},
        {200030, {"the focal field (FocalVar) is not in the dictionary", nullptr}},
        {200032, {"the fold field (VFoldVar) must be categorical", nullptr}},
        {200036, {"the fold field (VFoldVar) is not in the dictionary", nullptr}},
        {200037,
         {"a continuous field has no declared minimum and maximum (min and max in the "
          "dictionary)",
          nullptr}},
        {200038, {"the settings name no predictor", nullptr}},
        {200039, {"SpecifiedErrRange must be a number from 0 to 1", nullptr}},
        {200040, {"ForcedVariables cannot be read", nullptr}},
        {200041, {"the fold field's number of categories differs from VFoldValue", nullptr}},
        {200042,
         {"a continuous field has the same declared minimum and maximum",
          "the continuous field %F has the same declared minimum and maximum"}},
        {200043, {"the case-identifier field (CaseIDVar) must be continuous", nullptr}},
        {200044,
         {"K selection, feature selection and feature weighting need at least one target",
          nullptr}},
        {200047,
         {"no feature remains once the identifier, case-label and focal fields are taken out "
          "of the predictors",
          nullptr}},
        {200050, {"a field is named twice in one list", nullptr}},
        {200051, {"a forced variable is not in the dictionary", nullptr}},
        {200052, {"the case-identifier field (CaseIDVar) is not in the dictionary", nullptr}},
        {200053, {"the case-label field (CaseLabelVar) must be categorical", nullptr}},
        {200054, {"the case-label field (CaseLabelVar) is not in the dictionary", nullptr}},
        {200055, {"use_caselabels is true, but CaseLabelVar names no field", nullptr}},
        {200065, {"the case-label field is not in the host's dictionary", nullptr}},
        {200066,
         {"SpecifiedFeature or SpecifiedFeatureWeight cannot be read, names a field that is not "
          "in the dictionary, or names one twice",
          nullptr}},
        {200067,
         {"fixed features (SpecifiedFeature) cannot be combined with K selection, feature "
          "selection or feature weights, and need exactly one weight each",
          nullptr}},
        {200071,
         {"a categorical target or predictor has too many categories",
          "the field %F has too many categories for a target or predictor; leave it out or "
          "group its values"}},
        {200072,
         {"a continuous field has a declared range too wide to rescale with",
          "the declared range of the field %F is too wide to rescale with"}},
        {200073,
         {"a weight in SpecifiedFeatureWeight is not a number above 0",
          "the weight given to the feature %F (SpecifiedFeatureWeight) is not a number above 0"}},
        {200074,
         {"fieldFormat must be well-formed XML content, since the model document takes it as "
          "it is",
          nullptr}},
        // Component: data and building.
        {200004,
         {"no valid case remains after the cases with unusable values are dropped", nullptr}},
        {200034, {"a cross-validation fold has no valid case", nullptr}},
        {200035,
         {"a feature has the same value in every valid case and cannot tell neighbours apart; "
          "leave it out of the predictors",
          "the feature %F has the same value in every valid case and cannot tell neighbours "
          "apart; leave it out of the predictors"}},
        {200046, {"feature selection or importance found no model with a target", nullptr}},
        {200048,
         {"a training case has an unusable value in a used field",
          "a training case has an unusable value in the field %F"}},
        {200058, {"only one valid case remains; at least two are needed", nullptr}},
        {200059, {"a squared prediction error is too large to represent", nullptr}},
        {200060,
         {"a squared prediction error became too large to represent during feature selection",
          nullptr}},
        {200061,
         {"a squared prediction error became too large to represent during the combined "
          "choice of K and features",
          nullptr}},
        {200062,
         {"a squared prediction error became too large to represent during automatic K "
          "selection",
          nullptr}},
        {200064,
         {"a neighbour search found no neighbour (a distance may be too large to represent)",
          "no distance could be computed along the field %F; check its values and declared "
          "range, or rescale it (RescaleMethod)"}},
        // Component: scoring and the model document.
        {200049,
         {"the record does not fit the model's dictionary",
          "the record cannot be scored: the field %F has no usable value"}},
        {200056,
         {"writing a case table to its temporary file failed (is the disk full?)", nullptr}},
        {200057,
         {"a temporary file for the model document could not be created; check that "
          "TempFileDir names a writable directory, with a trailing '/'",
          nullptr}},
        {200063, {"scoring the training cases for the model document failed", nullptr}},
        // Component: any operation.
        {200076,
         {"the component ran out of memory; try again with fewer records or fields, or with "
          "more memory free",
          nullptr}},
        {200077, {"the component failed unexpectedly", nullptr}},
        // Warnings.
        {200068,
         {"NSpecifiedFeatures plus the forced variables is more than the number of features; "
          "fewer features will be selected",
          nullptr}},
        {200069,
         {"MaxK was larger than the number of valid cases minus one and has been reduced",
          nullptr}},
        {200070,
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
