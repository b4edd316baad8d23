// A model document written by `knn run --pmml`, read back as settings that rebuild its models
// as they were: the dictionary with its declared ranges and categories, the roles of the
// fields, and per model its K, its features in the order the model uses them and their
// weights, fixed so that nothing is chosen again. The training cases stay in the document's
// "originalData" table (DocumentCases reads them).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ModelDocument.h"

namespace knncli {

struct SavedModel {
    std::string path;
    DocumentSetup setup;
    std::vector<DocumentModel> models;
    // Every target, for the program's own reading of the data and writing of the outputs.
    std::string settingsText;
    // Per model, in document order: the settings that build it again from the training cases.
    std::vector<std::string> modelSettings;
};

// Reads the document at `path`. Throws ModelDocumentError naming what is missing when the
// document was not written by `knn run --pmml`, was written without its case tables, or
// is damaged; CliError(kExitInterrupted) when `interrupted` returns true on the way.
SavedModel ReadSavedModel(const std::string& path, const std::function<bool()>& interrupted);

}  // namespace knncli
