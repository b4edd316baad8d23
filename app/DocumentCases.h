// The training cases of a model document, handed to the component as it pulls them: each row
// of the "originalData" table is read from the document, its cells turned into the values of
// the dictionary's fields, and handed over in the document's order, so that the component
// prepares the very cases it prepared when it wrote the document. The document is read as a
// stream and never held in memory.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "Progress.h"
#include "Record.h"
#include "Settings.h"

namespace knncli {

class DocumentCases : public VelCommon_940::RecordSource {
public:
    // `settings` gives the dictionary of the document (ReadSavedModel's settingsText).
    // `interrupted` is asked every few thousand rows.
    DocumentCases(std::string path, const AnalysisSettings& settings, ConsoleProgress& progress,
                  std::function<bool()> interrupted);
    ~DocumentCases() override;

    bool Reset() override;
    // The next case, or null after the last one. What stops the reading (a damaged row, an
    // interruption) is kept for Finish, and the component gets a record without values, which
    // it refuses: the build stops there.
    const VelCommon_940::Record* Next() override;
    // After the build: throws what stopped the reading; returns the number of cases read.
    long Finish();

private:
    struct Reader;
    struct Column;
    // The next row's text, or false after the table; throws ModelDocumentError.
    bool NextRow(std::string& row);
    // Throws ModelDocumentError unless the table's columns are the dictionary's fields.
    void CheckColumns() const;
    void Convert(const std::string& row);

    std::string path_;
    const AnalysisSettings& settings_;
    ConsoleProgress& progress_;
    std::function<bool()> interrupted_;
    std::unique_ptr<Reader> reader_;
    std::vector<Column> columns_;
    uint64_t size_ = 0;
    long rows_ = 0;
    bool fresh_ = true;
    bool exhausted_ = false;
    std::exception_ptr error_;
    std::string row_;
    std::vector<std::string> cells_;
    VelCommon_940::Record record_;
    const VelCommon_940::Record refused_;
};

}  // namespace knncli
