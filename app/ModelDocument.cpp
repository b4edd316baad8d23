#include "ModelDocument.h"

#include <cmath>
#include <limits>
#include <memory>

#include "Csv.h"
#include "DocumentStream.h"
#include "Errors.h"

namespace knncli {

namespace {

// Nodes read between two looks at the interruption flag.
constexpr long kNodesPerCheck = 4096;

// The tables of a model element that the summary uses; every other table is skipped unread.
constexpr const char* kAnalysisOptions = "AnalysisOptions";
constexpr const char* kKSelection = "KSelection";
constexpr const char* kFeatureSelection = "FeatureSelection";
constexpr const char* kFeatureKSelection = "FeatureKSelection";
constexpr const char* kModelQuality = "modelQuality";  // a ComplexTable holding the next one
constexpr const char* kErrorSummary = "errorSummary";
// What the setup is read from: the build's settings echo and the training-case table.
constexpr const char* kSettingsEcho = "Orvex Model Settings";
constexpr const char* kOriginalData = "originalData";

std::optional<std::string> Attribute(xmlTextReaderPtr reader, const char* name) {
    xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string text = NodeText(value);
    xmlFree(value);
    return text;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1) {
        cells.push_back(text.substr(start, end - start));
    }
    cells.push_back(text.substr(start));
    return cells;
}

// A number cell; errors that could not be represented are written as "nan" or "inf", and read
// as not-a-number so that the summary can say so.
double Number(const std::string& text) {
    const std::optional<double> number = ParseNumber(text);
    return number ? *number : std::numeric_limits<double>::quiet_NaN();
}

std::optional<int> Integer(const std::string& text) {
    const std::optional<double> number = ParseNumber(text);
    if (!number || *number != std::floor(*number) || std::fabs(*number) > 1e9) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

class DocumentReader {
public:
    DocumentReader(const std::string& path, const std::function<bool()>& interrupted,
                   DocumentSetup* setup)
        : path_(path), interrupted_(interrupted), setup_(setup) {}

    std::vector<DocumentModel> Read() {
        const DocumentStream stream(path_);
        reader_ = stream.Reader();
        long nodes = 0;
        int result = xmlTextReaderRead(reader_);
        while (result == 1) {
            if (++nodes % kNodesPerCheck == 0 && interrupted_ && interrupted_()) {
                throw CliError(kExitInterrupted, "interrupted; no output file was written");
            }
            // Entities are never expanded: a document that declares any is refused at once.
            if (xmlTextReaderNodeType(reader_) == XML_READER_TYPE_DOCUMENT_TYPE) {
                throw ModelDocumentError(
                    "the document has a document type declaration, which a model document "
                    "never has");
            }
            const bool skip = Visit();
            result = skip ? xmlTextReaderNext(reader_) : xmlTextReaderRead(reader_);
        }
        if (result < 0) {
            throw ModelDocumentError(stream.Error().empty() ? "the document cannot be read"
                                                            : stream.Error());
        }
        if (models_.empty()) {
            throw ModelDocumentError("the document holds no model");
        }
        return std::move(models_);
    }

private:
    // Handles the current node; true when its subtree is to be skipped.
    bool Visit() {
        const int type = xmlTextReaderNodeType(reader_);
        if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) {
            if (text_ != nullptr) {
                *text_ += NodeText(xmlTextReaderConstValue(reader_));
            }
            return false;
        }
        if (type == XML_READER_TYPE_END_ELEMENT) {
            End(NodeText(xmlTextReaderConstLocalName(reader_)));
            return false;
        }
        if (type != XML_READER_TYPE_ELEMENT) {
            return false;
        }
        // Text is taken only from a ColumnNames or Row without child elements: in a damaged
        // document another element may start inside one, and may clear the rows.
        text_ = nullptr;
        const std::string name = NodeText(xmlTextReaderConstLocalName(reader_));
        const bool empty = xmlTextReaderIsEmptyElement(reader_) == 1;
        const bool skip = Start(name);
        if (empty && !skip) {
            End(name);
        }
        return skip;
    }

    bool Start(const std::string& name) {
        if (setup_ != nullptr && model_ == nullptr && StartSetup(name)) {
            return setup_->hasOriginalData && name == "Row";
        }
        if (name == "NearestNeighborModel") {
            models_.emplace_back();
            model_ = &models_.back();
            model_->response = Attribute(reader_, "response").value_or("");
            return false;
        }
        if (name == "SimpleTable" || name == "ComplexTable") {
            const std::string table = Attribute(reader_, "name").value_or("");
            if (model_ != nullptr && name == "ComplexTable" && table == kModelQuality) {
                inQuality_ = true;
                return false;
            }
            const bool wanted = inQuality_
                                    ? table == kErrorSummary
                                    : table == kAnalysisOptions || table == kKSelection ||
                                          table == kFeatureSelection || table == kFeatureKSelection;
            if (model_ == nullptr || name != "SimpleTable" || !wanted) {
                return true;
            }
            table_ = table;
            columns_.clear();
            rows_.clear();
            return false;
        }
        if (name == "DataDictionary" || name == "MiningBuildTask") {
            return true;
        }
        if (model_ == nullptr) {
            return false;
        }
        if (!table_.empty() && name == "ColumnNames") {
            text_ = &columns_;
        } else if (!table_.empty() && name == "Row") {
            rows_.emplace_back();
            text_ = &rows_.back();
        } else if (name == "MiningField") {
            inActiveField_ = Attribute(reader_, "usageType") == "active";
            if (inActiveField_) {
                DocumentFeature feature;
                feature.name = Attribute(reader_, "name").value_or("");
                if (const auto importance = Attribute(reader_, "importance")) {
                    feature.importance = Number(*importance);
                }
                model_->features.push_back(std::move(feature));
            }
        } else if (name == "Extension" && inActiveField_ && !model_->features.empty() &&
                   Attribute(reader_, "name") == "weight") {
            model_->features.back().weight = Number(Attribute(reader_, "value").value_or(""));
        }
        return false;
    }

    // The settings echo, the dictionary and the training-case table; true when `name` was
    // one of theirs.
    bool StartSetup(const std::string& name) {
        if (name == "MiningBuildTask" || name == "DataDictionary") {
            section_ = name;
            return true;
        }
        if (section_ == "MiningBuildTask") {
            if (name == "Extension") {
                setup_->echoed = setup_->echoed || Attribute(reader_, "name") == kSettingsEcho;
            } else if (name == "Parameter") {
                parameter_ = Attribute(reader_, "name").value_or("");
                if (const auto value = Attribute(reader_, "value")) {
                    setup_->parameters[parameter_] = *value;
                }
            } else if (name == "Value") {
                setup_->lists[parameter_].push_back(Attribute(reader_, "value").value_or(""));
            }
            return true;
        }
        if (section_ == "DataDictionary") {
            if (name == "DataField") {
                DocumentField field;
                field.name = Attribute(reader_, "name").value_or("");
                field.label = Attribute(reader_, "displayName").value_or("");
                field.optype = Attribute(reader_, "optype").value_or("");
                field.dataType = Attribute(reader_, "dataType").value_or("");
                setup_->fields.push_back(std::move(field));
            } else if (!setup_->fields.empty() && name == "Interval") {
                setup_->fields.back().min = Attribute(reader_, "leftMargin");
                setup_->fields.back().max = Attribute(reader_, "rightMargin");
            } else if (!setup_->fields.empty() && name == "Value") {
                DocumentField& field = setup_->fields.back();
                const std::string value = Attribute(reader_, "value").value_or("");
                if (Attribute(reader_, "property") == "missing") {
                    field.missing.push_back(value);
                } else {
                    field.categories.push_back(value);
                    field.categoryLabels.push_back(Attribute(reader_, "displayValue").value_or(""));
                }
            }
            return true;
        }
        if (name == "SimpleTable" && Attribute(reader_, "name") == kOriginalData) {
            section_ = kOriginalData;
            setup_->hasOriginalData = true;
            return true;
        }
        if (section_ == kOriginalData) {
            if (name == "ColumnNames") {
                text_ = &setup_->originalColumns;
            } else if (name == "Row") {
                ++setup_->originalRows;
            }
            return true;
        }
        return false;
    }

    void End(const std::string& name) {
        if (setup_ != nullptr && model_ == nullptr &&
            (name == "MiningBuildTask" || name == "DataDictionary" ||
             (name == "SimpleTable" && section_ == kOriginalData))) {
            section_.clear();
            return;
        }
        if (name == "NearestNeighborModel") {
            model_ = nullptr;
        } else if (name == "ColumnNames" || name == "Row") {
            text_ = nullptr;
        } else if (name == "MiningField") {
            inActiveField_ = false;
        } else if (name == "ComplexTable") {
            inQuality_ = false;
        } else if (name == "SimpleTable" && !table_.empty()) {
            FinishTable();
            table_.clear();
        }
    }

    [[noreturn]] void Unreadable(const std::string& row) const {
        throw ModelDocumentError("line " +
                                 std::to_string(xmlTextReaderGetParserLineNumber(reader_)) +
                                 ": the row \"" + row + "\" of the table " + table_ +
                                 " of the model \"" + model_->response + "\" cannot be read");
    }

    void FinishTable() {
        if (table_ == kErrorSummary) {
            // "response;<measure>": the response may hold an escaped ';', the value is last.
            const std::vector<std::string> names = Split(columns_);
            if (!rows_.empty() && names.size() >= 2) {
                const size_t separator = rows_.front().rfind(';');
                if (separator == std::string::npos) {
                    Unreadable(rows_.front());
                }
                model_->qualityMeasure = names.back();
                model_->trainingError = Number(rows_.front().substr(separator + 1));
            }
            return;
        }
        if (table_ == kAnalysisOptions) {
            const std::vector<std::string> names = Split(columns_);
            for (const std::string& row : rows_) {
                const std::vector<std::string> cells = Split(row);
                for (size_t i = 0; i < names.size() && i < cells.size(); ++i) {
                    if (names[i] == "K") {
                        model_->k = Integer(cells[i]);
                    } else if (names[i] == "selectedFeatures") {
                        model_->selectedFeatures = Integer(cells[i]).value_or(0);
                    }
                }
            }
            return;
        }
        if (table_ == kKSelection) {
            for (const std::string& row : rows_) {
                const size_t separator = row.find(';');
                const std::optional<int> k = separator != std::string::npos
                                                 ? Integer(row.substr(0, separator))
                                                 : std::nullopt;
                if (!k) {
                    Unreadable(row);
                }
                model_->kErrors.push_back({*k, Number(row.substr(separator + 1))});
            }
            return;
        }
        // Forward selection: "model;features;error;selected", and with K chosen jointly
        // "model;features;K;error;selected". A field name may hold ';', so the cells are taken
        // from both ends and the feature cell is what lies between them.
        model_->jointSelection = table_ == kFeatureKSelection;
        const size_t tail = model_->jointSelection ? 3 : 2;
        for (const std::string& row : rows_) {
            const size_t first = row.find(';');
            const std::optional<int> step =
                first != std::string::npos ? Integer(row.substr(0, first)) : std::nullopt;
            if (!step) {
                Unreadable(row);
            }
            std::vector<std::string> ends;  // the cells after the feature cell
            size_t last = row.size();
            while (ends.size() < tail) {
                const size_t separator = row.rfind(';', last - 1);
                if (separator == std::string::npos || separator <= first) {
                    Unreadable(row);
                }
                ends.insert(ends.begin(), row.substr(separator + 1, last - separator - 1));
                last = separator;
            }
            SelectionStep entry;
            entry.step = *step;
            entry.features = row.substr(first + 1, last - first - 1);
            entry.error = Number(ends[tail - 2]);
            if (model_->jointSelection) {
                const std::optional<int> k = Integer(ends[0]);
                if (!k) {
                    Unreadable(row);
                }
                entry.k = *k;
            }
            model_->steps.push_back(std::move(entry));
        }
    }

    const std::string& path_;
    const std::function<bool()>& interrupted_;
    DocumentSetup* setup_;
    std::string section_;    // the part of the setup being read, or empty
    std::string parameter_;  // the echoed parameter being read
    xmlTextReaderPtr reader_ = nullptr;
    std::vector<DocumentModel> models_;
    DocumentModel* model_ = nullptr;  // the model element being read
    std::string table_;               // the table of interest being read, or empty
    std::string columns_;
    std::vector<std::string> rows_;
    std::string* text_ = nullptr;  // receives the text of the open ColumnNames or Row
    bool inActiveField_ = false;
    bool inQuality_ = false;  // within the model's "modelQuality" table
};

}  // namespace

std::vector<DocumentModel> ReadModelDocument(const std::string& path,
                                             const std::function<bool()>& interrupted,
                                             DocumentSetup* setup) {
    return DocumentReader(path, interrupted, setup).Read();
}

}  // namespace knncli
