// The readers of outside input, each fed arbitrary bytes: the settings reader (the program's
// own reading and the component's factory), the CSV reader (record by record, then whole files
// loaded against a fixed settings document) and the reader of saved model documents. The fuzz
// targets call these, and so does the regression test with the seed corpora and the inputs that
// once broke a reader. Each returns a description of what went wrong that must never go wrong, or
// an empty text.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Csv.h"
#include "Data.h"
#include "DocumentCases.h"
#include "Errors.h"
#include "Progress.h"
#include "SavedModel.h"
#include "Settings.h"
#include "knn/api/KNNFactory.h"

namespace knn_fuzz {

// Rejecting a document is fine; anything else but accepting it is not. The program reads a
// document before the component does, so it must not reject one that the component accepts.
inline std::string ReadSettingsDocument(std::string_view bytes) {
    const std::string text(bytes);
    bool programAccepts = true;
    try {
        knncli::ParseSettings(text, "fuzz.xml");
    } catch (const knncli::CliError& error) {
        if (error.Code() != knncli::kExitSettings) {
            return "the program's reading failed with exit code " + std::to_string(error.Code());
        }
        programAccepts = false;
    }
    KNN_800::KNNFactory factory;
    std::istringstream in(text);
    const std::unique_ptr<VelCommon_940::IVelAlgorithm> algorithm(factory.CreateVelAlgorithm(in));
    if ((algorithm == nullptr) != factory.GetStatus().IsError()) {
        return "the factory returned an algorithm that disagrees with its status";
    }
    if (algorithm != nullptr && !programAccepts) {
        return "the program rejects a document that the component accepts";
    }
    return "";
}

// Every kind of field the program maps a column to: a case identifier (numbers or texts), a
// continuous feature with a range and a missing value, categories by text (one of them a text
// that usually means missing) and by number, a fold and a focal field it can supply itself.
inline constexpr const char* kCsvSettings = R"(<Settings version="1">
  <Dictionary>
    <Field name="id" kind="continuous"/>
    <Field name="x" kind="continuous" min="0" max="10"><Missing value="-1"/></Field>
    <Field name="colour" kind="categorical-string">
      <Category value="red"/><Category value="blue"/><Category value="NA"/>
      <Missing text="none"/>
    </Field>
    <Field name="grade" kind="categorical-numeric"><Category value="1"/><Category value="2.5"/></Field>
    <Field name="fold" kind="categorical-numeric"><Category value="1"/><Category value="2"/></Field>
    <Field name="focal" kind="categorical-numeric"><Category value="1"/></Field>
    <Field name="class" kind="categorical-string"><Category value="a"/><Category value="b"/></Field>
  </Dictionary>
  <Targets><Target name="class"/></Targets>
  <Predictors><Predictor name="x"/><Predictor name="colour"/><Predictor name="grade"/></Predictors>
  <Parameters>
    <Parameter key="CaseIDVar" type="string" value="id"/>
    <Parameter key="FocalVar" type="string" value="focal"/>
    <Parameter key="IsAutoKSelection" type="bool" value="true"/>
    <Parameter key="VFoldVar" type="string" value="fold"/>
  </Parameters>
</Settings>
)";

// A record written the way the program writes its predictions (identifier first, each field
// quoted as needed) reads back as the same fields.
inline std::string CheckWrittenRecordReadsBack(const std::vector<std::string>& fields) {
    std::vector<std::string> quoted{"1"};
    for (const std::string& field : fields) {
        quoted.push_back(knncli::CsvQuote(field));
    }
    std::istringstream written("id\n" + knncli::CsvLine(quoted) + "\n");
    knncli::CsvReader reader(written, "written.csv");
    std::vector<std::string> header, back;
    reader.ReadRecord(header);
    if (!reader.ReadRecord(back) || back.size() != fields.size() + 1 ||
        !std::equal(fields.begin(), fields.end(), back.begin() + 1)) {
        return "a written record does not read back as the same fields";
    }
    return "";
}

// A number that is read back from the text it is written as keeps its value.
inline std::string CheckNumberReadsBack(const std::string& text) {
    const std::optional<double> value = knncli::ParseNumber(text);
    if (value && (knncli::ParseNumber(knncli::FormatNumber(*value)) != value ||
                  knncli::ParseNumber(knncli::FormatIdentifier(*value)) != value)) {
        return "the number " + knncli::Quoted(text) + " does not read back from its written form";
    }
    return "";
}

// The parts of loaded data that the rest of the program indexes by record.
inline std::string CheckLoadedData(const knncli::LoadedData& data, knncli::DataRole role) {
    if (data.values.size() != static_cast<size_t>(data.Records() * data.width)) {
        return "the loaded values do not fill one row per record";
    }
    long dropped = 0;
    for (const auto& [reason, count] : data.dropped) {
        dropped += count;
    }
    if (role == knncli::DataRole::kTraining && data.validCases + dropped != data.Records()) {
        return "valid and dropped cases do not add up to the records read";
    }
    return "";
}

// All that the CSV reader tells of `bytes` read `blockSize` bytes at a time: each record's
// line, field count and first `keep` fields with the line each starts on, then the bytes taken
// at the end, or the error that ended the reading.
inline std::string RecordTrace(std::string_view bytes, size_t blockSize, size_t keep = SIZE_MAX) {
    std::istringstream in{std::string(bytes)};
    knncli::CsvReader reader(in, "t.csv", blockSize);
    std::vector<std::string_view> fields;
    std::string trace;
    try {
        while (reader.ReadRecord(fields, keep)) {
            trace += std::to_string(reader.RecordLine()) + "/" +
                     std::to_string(reader.FieldCount()) + ":";
            for (size_t i = 0; i < fields.size(); ++i) {
                trace +=
                    "[" + std::string(fields[i]) + "@" + std::to_string(reader.FieldLine(i)) + "]";
            }
            trace += "\n";
        }
        trace += "end at " + std::to_string(reader.Consumed());
    } catch (const knncli::CsvError& e) {
        trace += e.what();
    }
    return trace;
}

inline std::string ReadCsvFile(std::string_view bytes) {
    // A record that crosses the end of a block reads as from one block.
    if (RecordTrace(bytes, 7) != RecordTrace(bytes, knncli::kCsvBlockSize)) {
        return "reading in blocks of 7 bytes gives other records, lines or errors than in one";
    }
    std::string problem;
    std::istringstream in{std::string(bytes)};
    knncli::CsvReader reader(in, "fuzz.csv");
    try {
        const std::vector<std::string> header = knncli::ReadHeader(reader);
        std::vector<std::string> fields;
        while (problem.empty() && knncli::ReadDataRecord(reader, fields, header.size())) {
            problem = CheckWrittenRecordReadsBack(fields);
            for (size_t i = 0; problem.empty() && i < fields.size(); ++i) {
                problem = CheckNumberReadsBack(fields[i]);
            }
        }
    } catch (const knncli::CsvError&) {
    }
    if (!problem.empty()) {
        return problem;
    }

    static const knncli::AnalysisSettings settings =
        knncli::ParseSettings(kCsvSettings, "fuzz.xml");
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("knn_fuzz_" + std::to_string(getpid()) + ".csv");
    std::ofstream(path, std::ios::binary) << bytes;
    try {
        const knncli::LoadedData training =
            knncli::LoadData(path.string(), settings, knncli::DataRole::kTraining, nullptr);
        problem = CheckLoadedData(training, knncli::DataRole::kTraining);
        if (problem.empty()) {
            const knncli::LoadedData scoring = knncli::LoadData(
                path.string(), settings, knncli::DataRole::kScoring, nullptr, &training);
            problem = CheckLoadedData(scoring, knncli::DataRole::kScoring);
        }
    } catch (const knncli::CsvError&) {
    }
    std::filesystem::remove(path);
    return problem;
}

// A saved model document. Refusing it is fine (with ModelDocumentError, or CliError for
// settings that cannot be used); anything else that escapes, or a crash, is not. A document
// that is taken must give settings the program reads, and its training cases are read to the
// end as records of the dictionary's width, or refused.
inline std::string ReadModelDocumentFile(std::string_view bytes) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("knn_fuzz_" + std::to_string(getpid()) + ".pmml");
    std::ofstream(path, std::ios::binary) << bytes;
    std::string problem;
    try {
        const knncli::SavedModel saved = knncli::ReadSavedModel(path.string(), nullptr);
        const knncli::AnalysisSettings settings =
            knncli::ParseSettings(saved.settingsText, path.string());
        for (const std::string& text : saved.modelSettings) {
            knncli::ParseSettings(text, path.string());
        }
        std::ostringstream quiet;
        knncli::ConsoleProgress progress(quiet, false, true);
        knncli::DocumentCases cases(path.string(), settings, progress, nullptr);
        const int width = settings.dictionary->Size();
        while (const VelCommon_940::Record* record = cases.Next()) {
            if (record->Size() != width && record->Size() != 0) {
                problem = "a training case of the document has " + std::to_string(record->Size()) +
                          " values for " + std::to_string(width) + " fields";
                break;
            }
            if (record->Size() == 0) {
                break;  // refused: the reason waits for Finish
            }
        }
        cases.Finish();
    } catch (const knncli::ModelDocumentError&) {
    } catch (const knncli::CliError& error) {
        if (error.Code() != knncli::kExitSettings) {
            problem = "reading the document failed with exit code " + std::to_string(error.Code());
        }
    }
    std::filesystem::remove(path);
    return problem;
}

}  // namespace knn_fuzz
