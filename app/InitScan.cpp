// knn init, first step: one pass over the data that learns, per column, how many cells are
// present and how many are numbers, the range of the numbers and the distinct values.
#include <algorithm>

#include "Csv.h"
#include "Errors.h"
#include "InitSteps.h"

namespace knncli {

namespace {

constexpr long kRecordsPerCheck = 4096;

void Count(Column& column, const std::string& text, long line) {
    if (IsMissingText(text)) {
        return;
    }
    ++column.present;
    if (!column.tooManyTexts) {
        ++column.texts[text];
        column.tooManyTexts = column.texts.size() > kMaxCategories;
    }
    const std::optional<double> number = ParseNumber(text);
    if (column.present == 1) {
        column.firstIsNumber = number.has_value();
    }
    if (!number) {
        if (column.firstTextLine == 0) {
            column.firstText = text;
            column.firstTextLine = line;
        }
        return;
    }
    ++column.numbers;
    column.min = std::min(column.min, *number);
    column.max = std::max(column.max, *number);
    if (!column.tooManyNumbers) {
        ++column.numericValues[*number];
        column.tooManyNumbers = column.numericValues.size() > kMaxCategories;
    }
}

}  // namespace

ScannedData ScanColumns(const std::string& path, const std::function<bool()>& interrupted) {
    DataInput input(path);
    CsvReader reader(input.Stream(), input.Name());
    const std::vector<std::string> header = ReadHeader(reader);
    ScannedData data;
    data.path = input.Name();
    data.columns.resize(header.size());
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i].empty()) {
            reader.Fail(i, "the column has no name in the header");
        }
        data.columns[i].name = header[i];
    }
    std::vector<std::string> fields;
    while (ReadDataRecord(reader, fields, header.size())) {
        if (data.records % kRecordsPerCheck == 0 && interrupted && interrupted()) {
            throw CliError(kExitInterrupted, "interrupted while reading " + data.path +
                                                 "; no output file was written");
        }
        ++data.records;
        for (size_t i = 0; i < fields.size(); ++i) {
            Count(data.columns[i], fields[i], reader.FieldLine(i));
        }
    }
    return data;
}

}  // namespace knncli
