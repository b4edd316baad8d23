#include "DocumentCases.h"

#include <filesystem>
#include <unordered_map>

#include "Csv.h"
#include "DocumentStream.h"
#include "Errors.h"
#include "ModelDocument.h"
#include "VelMV.h"

namespace knncli {

using VelCommon_940::VelMV;

namespace {

// Rows read between two looks at the interruption flag (and updates of the progress bar).
constexpr long kRowsPerCheck = 4096;

// The cells of a row: ';' separates them, and '\' makes the next character part of the cell.
void SplitCells(const std::string& row, std::vector<std::string>& cells) {
    cells.assign(1, std::string());
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size()) {
            cells.back() += row[++i];
        } else if (row[i] == ';') {
            cells.emplace_back();
        } else {
            cells.back() += row[i];
        }
    }
}

// A value that the document writes for a missing one.
bool IsMissingCell(const std::string& cell) {
    return cell == "-inf" || cell == "nan" || cell == "-nan";
}

}  // namespace

// The document as a stream of nodes, positioned within the "originalData" table.
struct DocumentCases::Reader {
    explicit Reader(const std::string& path) : stream(path) {}
    DocumentStream stream;
    bool inTable = false;
    std::string columns;  // the table's column names
};

// How the cells of one field become values: a number, or a category's code.
struct DocumentCases::Column {
    std::string name;
    int kind = VelXML_940::kContinuous;
    std::unordered_map<std::string, int> textCodes;
    std::unordered_map<double, int> numberCodes;
};

DocumentCases::DocumentCases(std::string path, const AnalysisSettings& settings,
                             ConsoleProgress& progress, std::function<bool()> interrupted)
    : path_(std::move(path)),
      settings_(settings),
      progress_(progress),
      interrupted_(std::move(interrupted)) {
    const VelXML_940::VelVarList& dictionary = *settings_.dictionary;
    for (int f = 0; f < dictionary.Size(); ++f) {
        const VelXML_940::IVelVariable* variable = dictionary.GetVarAt(f);
        Column column;
        column.name = variable->Name();
        column.kind = variable->GetKind();
        if (const VelXML_940::VelValueTable* table = variable->GetValueTable()) {
            const std::vector<VelXML_940::VelCategory>& categories = table->Categories();
            for (size_t code = 0; code < categories.size(); ++code) {
                column.numberCodes.emplace(categories[code].numeric, static_cast<int>(code));
                column.textCodes.emplace(categories[code].text, static_cast<int>(code));
            }
        }
        columns_.push_back(std::move(column));
    }
    std::error_code error;
    size_ = std::filesystem::file_size(path_, error);
    if (error) {
        size_ = 0;
    }
}

DocumentCases::~DocumentCases() = default;

bool DocumentCases::Reset() {
    if (error_) {
        return false;
    }
    reader_.reset();
    rows_ = 0;
    fresh_ = true;
    exhausted_ = false;
    return true;
}

bool DocumentCases::NextRow(std::string& row) {
    if (reader_ == nullptr) {
        reader_ = std::make_unique<Reader>(path_);
    }
    xmlTextReaderPtr xml = reader_->stream.Reader();
    std::string* text = nullptr;
    int result = xmlTextReaderRead(xml);
    while (result == 1) {
        bool skip = false;  // the subtree of the current node is of no use here
        const int type = xmlTextReaderNodeType(xml);
        const std::string name = NodeText(xmlTextReaderConstLocalName(xml));
        if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
            throw ModelDocumentError("the document has a document type declaration");
        }
        if ((type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) && text != nullptr) {
            *text += NodeText(xmlTextReaderConstValue(xml));
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            if (name == "Row" && text == &row) {
                return true;
            }
            if (name == "ColumnNames" && reader_->inTable) {
                CheckColumns();
            }
            text = nullptr;
            if (name == "SimpleTable" && reader_->inTable) {
                return false;
            }
        } else if (type == XML_READER_TYPE_ELEMENT && !reader_->inTable) {
            if (name == "SimpleTable") {
                xmlChar* table = xmlTextReaderGetAttribute(xml, BAD_CAST "name");
                reader_->inTable = NodeText(table) == "originalData";
                xmlFree(table);
            } else if (name == "NearestNeighborModel") {
                throw ModelDocumentError("the document has no originalData table");
            }
            skip = name == "MiningBuildTask" || name == "DataDictionary";
        } else if (type == XML_READER_TYPE_ELEMENT && name == "Row") {
            row.clear();
            text = &row;
            if (xmlTextReaderIsEmptyElement(xml) == 1) {
                return true;
            }
        } else if (type == XML_READER_TYPE_ELEMENT && name == "ColumnNames") {
            text = &reader_->columns;
        }
        result = skip ? xmlTextReaderNext(xml) : xmlTextReaderRead(xml);
    }
    if (result < 0) {
        const std::string& error = reader_->stream.Error();
        throw ModelDocumentError(error.empty() ? "the document cannot be read" : error);
    }
    throw ModelDocumentError(reader_->inTable ? "the originalData table is cut short"
                                              : "the document has no originalData table");
}

void DocumentCases::CheckColumns() const {
    std::string expected = "ID";
    for (const Column& column : columns_) {
        expected += ";" + column.name;
    }
    if (reader_->columns != expected) {
        throw ModelDocumentError(
            "line " + std::to_string(xmlTextReaderGetParserLineNumber(reader_->stream.Reader())) +
            ": the table originalData has the columns \"" + reader_->columns +
            "\", not those of the data dictionary (\"" + expected + "\")");
    }
}

void DocumentCases::Convert(const std::string& row) {
    std::vector<std::string>& cells = cells_;
    SplitCells(row, cells);
    const auto fail = [&](const std::string& what) {
        throw ModelDocumentError(
            "line " + std::to_string(xmlTextReaderGetParserLineNumber(reader_->stream.Reader())) +
            ": the training case " + std::to_string(rows_) + " of the table originalData " + what);
    };
    if (cells.size() != columns_.size() + 1) {
        fail("has " + std::to_string(cells.size()) + " cells; the table has " +
             std::to_string(columns_.size() + 1) + " columns");
    }
    std::vector<double>& values = record_.Values();
    values.assign(columns_.size(), 0.0);
    for (size_t f = 0; f < columns_.size(); ++f) {
        const Column& column = columns_[f];
        const std::string& cell = cells[f + 1];
        const bool categorical = column.kind != VelXML_940::kContinuous;
        if (column.kind == VelXML_940::kStringCategorical) {
            const auto code = column.textCodes.find(cell);
            if (code != column.textCodes.end()) {
                values[f] = code->second;
                continue;
            }
            if (cell != "-1") {
                fail("gives the field \"" + column.name + "\" the value " + Quoted(cell) +
                     ", which is not one of its categories");
            }
            values[f] = -1.0;
            continue;
        }
        if (IsMissingCell(cell)) {
            values[f] = categorical ? -1.0 : VelMV::Missing();
            continue;
        }
        const std::optional<double> number = ParseNumber(cell);
        if (!number) {
            fail("gives the field \"" + column.name + "\" the value " + Quoted(cell) +
                 ", which is not a number");
        }
        if (!categorical) {
            values[f] = *number;
            continue;
        }
        const auto code = column.numberCodes.find(*number);
        if (code == column.numberCodes.end()) {
            fail("gives the field \"" + column.name + "\" the value " + Quoted(cell) +
                 ", which is not one of its categories");
        }
        values[f] = code->second;
    }
}

const VelCommon_940::Record* DocumentCases::Next() {
    if (error_ || exhausted_) {
        return nullptr;
    }
    fresh_ = false;
    // Nothing may be thrown into the component: what stops the reading waits for Finish.
    try {
        if (rows_ % kRowsPerCheck == 0) {
            if (interrupted_ && interrupted_()) {
                throw CliError(kExitInterrupted,
                               "interrupted while the training cases of " + path_ + " were read");
            }
            if (reader_ != nullptr) {
                progress_.InputRead(
                    static_cast<uint64_t>(xmlTextReaderByteConsumed(reader_->stream.Reader())),
                    size_);
            }
        }
        if (!NextRow(row_)) {
            exhausted_ = true;
            progress_.SetExpectedCases(rows_);
            progress_.CasesDelivered();
            return nullptr;
        }
        ++rows_;
        Convert(row_);
        return &record_;
    } catch (...) {
        error_ = std::current_exception();
        return &refused_;
    }
}

long DocumentCases::Finish() {
    if (error_) {
        std::rethrow_exception(error_);
    }
    reader_.reset();
    return rows_;
}

}  // namespace knncli
