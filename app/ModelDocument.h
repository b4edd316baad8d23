// Reading back what the component decided from the model document it exports: per model its
// K, the features it uses with their importance and weight, and the history of the K or
// feature selection that led there. The algorithm interface offers none of this, the document
// does. The document is read as a stream, so the per-case tables of a large training set pass
// by without ever being held in memory.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace knncli {

// A document that cannot be read, or that lacks what the summary needs; what() names the line
// when the parser gives one.
class ModelDocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DocumentFeature {
    std::string name;
    std::optional<double> importance;
    std::optional<double> weight;
};

// The cross-validated error of one K of automatic K selection.
struct KError {
    int k = 0;
    double error = 0.0;
};

// One row of a forward-selection history.
struct SelectionStep {
    int step = 0;          // 0: the forced features alone; n: the n-th added feature
    std::string features;  // the added feature, or the forced ones joined by '+'
    int k = 0;             // joint selection: the K this run of the selection used; else 0
    double error = 0.0;    // error of the features up to and including this step
};

struct DocumentModel {
    std::string response;  // the target's name; empty for a neighbours-only model
    std::optional<int> k;
    int selectedFeatures = 0;               // features that selection added to the forced ones
    std::vector<DocumentFeature> features;  // the features in use, in dictionary order
    std::vector<KError> kErrors;            // automatic K selection alone, by increasing K
    std::vector<SelectionStep> steps;       // forward selection, in the order of the table
    bool jointSelection = false;            // `steps` cover several K, chosen with the features
    // The error of the training cases, each predicted from the others ("modelQuality"): the
    // column name of the document ("percentIncorrectlyClassifiedCases", a fraction, or
    // "sumOfSquaredError") and its value; empty when the document has none.
    std::string qualityMeasure;
    std::optional<double> trainingError;
};

// A field of the document's data dictionary, its texts as the document writes them.
struct DocumentField {
    std::string name;
    std::string label;                        // "displayName"; empty for none
    std::string optype;                       // "continuous" or "categorical"
    std::string dataType;                     // "double", "integer", "string", "date", ...
    std::optional<std::string> min, max;      // a continuous field's declared range
    std::vector<std::string> categories;      // a categorical field's values, in category order
    std::vector<std::string> categoryLabels;  // their display values ("" for none)
    std::vector<std::string> missing;         // values that the settings declared missing
};

// What a document holds besides its models: the settings that the build echoed, the data
// dictionary and the shape of the training-case table. Read only on request, for scoring
// from the document.
struct DocumentSetup {
    bool echoed = false;  // the build's settings echo was found
    std::map<std::string, std::string> parameters;
    std::map<std::string, std::vector<std::string>> lists;  // "target", "inputs", ...
    std::vector<DocumentField> fields;
    bool hasOriginalData = false;
    std::string originalColumns;  // the text of the table's column names
    long originalRows = 0;
};

// Reads the model elements of the document at `path`, in document order, and when `setup`
// is given what the document holds besides. Throws ModelDocumentError when the file is not a
// readable document or holds no model, and CliError(kExitInterrupted) when `interrupted`
// returns true on the way.
std::vector<DocumentModel> ReadModelDocument(const std::string& path,
                                             const std::function<bool()>& interrupted,
                                             DocumentSetup* setup = nullptr);

}  // namespace knncli
