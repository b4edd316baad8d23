// The knn command-line program: its CSV reader, data mapping and settings inference as a
// library, and the program itself run end to end on small files.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Csv.h"
#include "Data.h"
#include "Errors.h"
#include "Init.h"
#include "Messages.h"
#include "ModelDocument.h"
#include "ModelSummary.h"
#include "Output.h"
#include "Predictions.h"
#include "Progress.h"
#include "Settings.h"
#include "VelMV.h"

namespace fs = std::filesystem;
using namespace knncli;

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

// A directory of its own for each test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "knn_cli_XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string file = (path_ / name).string();
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::vector<std::string>> ReadAll(const std::string& text) {
    std::istringstream in(text);
    CsvReader reader(in, "t.csv");
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    while (reader.ReadRecord(fields)) {
        records.push_back(fields);
    }
    return records;
}

// The CsvError that reading `text` raises.
CsvError ReadError(const std::string& text) {
    try {
        ReadAll(text);
    } catch (const CsvError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for: " << text;
    return CsvError("", 0, 0, "");
}

// Five fields: two measurements, a colour, a numeric grade and the class to predict.
const char* const kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<Settings version="1">
  <Dictionary>
    <Field name="x1" kind="continuous" min="0" max="10"/>
    <Field name="x2" kind="continuous" min="0" max="10"><Missing value="-99"/></Field>
    <Field name="colour" kind="categorical-string">
      <Category value="blue"/><Category value="red"/><Missing text="none"/>
    </Field>
    <Field name="grade" kind="categorical-numeric">
      <Category value="1"/><Category value="2"/>
    </Field>
    <Field name="class" kind="categorical-string">
      <Category value="a"/><Category value="b"/>
    </Field>
    <Field name="_row" kind="continuous" min="1" max="1000"/>
    <Field name="_focal" kind="categorical-numeric"><Category value="1"/></Field>
  </Dictionary>
  <Targets><Target name="class"/></Targets>
  <Predictors>
    <Predictor name="x1"/><Predictor name="x2"/><Predictor name="colour"/>
  </Predictors>
  <Parameters>
    <Parameter key="CaseIDVar" type="string" value="_row"/>
    <Parameter key="FocalVar" type="string" value="_focal"/>
    <Parameter key="SpecifiedK" type="int" value="3"/>
    <Parameter key="TempFileDir" type="string" value="/tmp/"/>
  </Parameters>
</Settings>
)";

const char* const kTraining =
    "class,x2,x1,colour,grade,ignored\n"
    "a,1,1,blue,1,z\n"
    "a,2,1.5,blue,2,z\n"
    "a,1.5,2,red,1,z\n"
    "a,2.5,2.5,blue,2,z\n"
    "b,8,8,red,1,z\n"
    "b,8.5,9,red,2,z\n"
    "b,9,8.5,blue,1,z\n"
    "b,9.5,9.5,red,2,z\n";

// ---------------------------------------------------------------------------------------------
// CSV reading and writing

TEST(CsvReader, ReadsQuotedFieldsWithCommasQuotesAndLineBreaks) {
    const auto records = ReadAll("a,b,c\n\"x, y\",\"say \"\"hi\"\"\",\"two\nlines\"\n,,\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1], (std::vector<std::string>{"x, y", "say \"hi\"", "two\nlines"}));
    EXPECT_EQ(records[2], (std::vector<std::string>{"", "", ""}));
}

TEST(CsvReader, AcceptsByteOrderMarkCrlfBlankLinesAndMissingFinalLineEnd) {
    const auto records = ReadAll("\xEF\xBB\xBFname,v\r\n\r\nx,1\r\ny,2");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0][0], "name");
    EXPECT_EQ(records[1], (std::vector<std::string>{"x", "1"}));
    EXPECT_EQ(records[2], (std::vector<std::string>{"y", "2"}));
}

TEST(CsvReader, CountsLinesAcrossMultiLineFields) {
    std::istringstream in("a,b\n\"1\n2\n3\",x\n\n4,\"y\"\n");
    CsvReader reader(in, "t.csv");
    std::vector<std::string> fields;
    reader.ReadRecord(fields);
    reader.ReadRecord(fields);
    EXPECT_EQ(reader.RecordLine(), 2);
    reader.ReadRecord(fields);
    EXPECT_EQ(reader.RecordLine(), 6);
    EXPECT_EQ(fields, (std::vector<std::string>{"4", "y"}));
}

TEST(CsvReader, ErrorsNameFileLineAndColumn) {
    const CsvError open = ReadError("a,b\n1,2\n3,\"never closed\n4,5\n");
    EXPECT_EQ(open.Line(), 3);
    EXPECT_EQ(open.Column(), 2);
    EXPECT_NE(std::string(open.what()).find("t.csv:3:2: "), std::string::npos) << open.what();

    const CsvError trailing = ReadError("a,b\n\"x\"y,2\n");
    EXPECT_EQ(trailing.Line(), 2);
    EXPECT_EQ(trailing.Column(), 1);

    const CsvError latin1 = ReadError("a,b\n1,caf\xE9\n");
    EXPECT_EQ(latin1.Line(), 2);
    EXPECT_EQ(latin1.Column(), 2);
    EXPECT_NE(latin1.Message().find("UTF-8"), std::string::npos);

    EXPECT_NE(ReadError("\xFF\xFE"
                        "a\0b")
                  .Message()
                  .find("UTF-16"),
              std::string::npos);
}

TEST(CsvReader, HeaderMustExistAndNotRepeatANameAfterTrimming) {
    std::istringstream empty("");
    CsvReader emptyReader(empty, "e.csv");
    EXPECT_THROW(ReadHeader(emptyReader), CsvError);

    std::istringstream twice("a, b ,b\n");
    CsvReader reader(twice, "t.csv");
    try {
        ReadHeader(reader);
        FAIL() << "duplicate accepted";
    } catch (const CsvError& e) {
        EXPECT_EQ(e.Column(), 3);
    }
}

TEST(CsvNumbers, ReadInTheCLocaleOnly) {
    EXPECT_EQ(ParseNumber(" 2.5 "), 2.5);
    EXPECT_EQ(ParseNumber("+3"), 3.0);
    EXPECT_EQ(ParseNumber("-.5"), -0.5);
    EXPECT_EQ(ParseNumber("1e3"), 1000.0);
    for (const char* text : {"1,5", "abc", "inf", "nan", "-", "+-1", "1.2.3", "0x10", ""}) {
        EXPECT_FALSE(ParseNumber(text)) << text;
    }
    EXPECT_TRUE(IsMissingText(" ") && IsMissingText("NA") && IsMissingText("?"));
    EXPECT_FALSE(IsMissingText("na"));
}

TEST(CsvWriting, QuotesOnlyWhenNeededAndRoundTripsNumbers) {
    EXPECT_EQ(CsvQuote("plain"), "plain");
    EXPECT_EQ(CsvQuote("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvQuote("say \"x\""), "\"say \"\"x\"\"\"");
    EXPECT_EQ(CsvQuote(" pad"), "\" pad\"");
    EXPECT_EQ(FormatNumber(5.0), "5");
    EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(FormatNumber(0.123456, 3), "0.123");
}

// ---------------------------------------------------------------------------------------------
// Mapping data to records

class DataMapping : public ::testing::Test {
protected:
    LoadedData Load(const std::string& csv, DataRole role = DataRole::kTraining) {
        return LoadData(dir.Write("d.csv", csv), settings, role, nullptr);
    }
    TempDir dir;
    AnalysisSettings settings = ParseSettings(kSettings, "s.xml");
};

TEST_F(DataMapping, MapsColumnsByNameAndSuppliesIdentifierAndFocal) {
    const LoadedData data = Load(kTraining);
    ASSERT_EQ(data.Records(), 8);
    EXPECT_EQ(data.validCases, 8);
    EXPECT_TRUE(data.caseIdFromRecordNumber);
    EXPECT_TRUE(data.focalSupplied);
    const double* second = data.Record(1);
    // Dictionary order: x1, x2, colour, grade, class, _row, _focal.
    EXPECT_EQ(std::vector<double>(second, second + 7),
              (std::vector<double>{1.5, 2, 0, 1, 0, 2, 0}));
    EXPECT_EQ(data.lines[1], 3);
}

TEST_F(DataMapping, CountsMissingValuesAndUnknownCategoriesPerReason) {
    const LoadedData data = Load(
        "x1,x2,colour,grade,class\n"
        "1,NA,blue,1,a\n"       // missing x2
        "1,-99,blue,1,a\n"      // declared missing value of x2
        "1,2,none,1,a\n"        // declared missing text of colour
        "1,2,green,1,a\n"       // unknown category of colour
        "1,2,green,1,purple\n"  // the first used field in dictionary order decides: colour
        "1,2,blue,3,a\n"        // unknown grade, but grade is not used
        "11,2,red,2.0,b\n");    // outside the declared range, and "2.0" is category 2
    EXPECT_EQ(data.validCases, 2);
    const std::map<DropReason, long> expected{{{DropReason::kMissingValue, 1}, 2},
                                              {{DropReason::kMissingValue, 2}, 1},
                                              {{DropReason::kUnknownCategory, 2}, 2}};
    EXPECT_EQ(data.dropped, expected);
    EXPECT_EQ(data.unknownExamples.at(2), std::vector<std::string>{"green"});
    EXPECT_EQ(data.Record(6)[3], 1.0);
    EXPECT_EQ(data.Record(3)[2], -1.0);
    EXPECT_TRUE(VelCommon_940::VelMV::IsMissing(data.Record(0)[1]));
    EXPECT_EQ(data.outOfRange.at(0), 1);
}

TEST_F(DataMapping, ReportsAbsentFieldsAndBadNumbersWithTheirPlace) {
    try {
        Load("x1,colour\n1,blue\n");
        FAIL() << "absent fields accepted";
    } catch (const CsvError& e) {
        EXPECT_EQ(e.Line(), 1);
        EXPECT_NE(e.Message().find("\"x2\", \"grade\" and \"class\""), std::string::npos)
            << e.Message();
    }
    try {
        Load("x1,x2,colour,grade,class\n1,2,blue,1,a\n1,two,blue,1,a\n");
        FAIL() << "bad number accepted";
    } catch (const CsvError& e) {
        EXPECT_EQ(e.Line(), 3);
        EXPECT_EQ(e.Column(), 2);
        EXPECT_NE(e.Message().find("\"x2\""), std::string::npos) << e.Message();
    }
    EXPECT_THROW(Load("x1,x2,colour,grade,class\n1,2,blue,1\n"), CsvError);
}

TEST_F(DataMapping, ScoringNeedsOnlyTheFeaturesAndLeavesTheIdentifierMissing) {
    const LoadedData data = Load("colour,x2,x1\nred,3,4\n", DataRole::kScoring);
    ASSERT_EQ(data.Records(), 1);
    const double* row = data.Record(0);
    EXPECT_EQ(row[4], -1.0);  // class
    EXPECT_TRUE(VelCommon_940::VelMV::IsMissing(row[5]));
    EXPECT_EQ(row[6], 0.0);  // focal: its first category
    EXPECT_THROW(Load("x1,x2\n1,2\n", DataRole::kScoring), CsvError);
}

TEST_F(DataMapping, NumbersTrainingRecordsIntoFoldsWhenTheFoldColumnIsAbsent) {
    settings = ParseSettings(
        Replace(Replace(kSettings, "</Dictionary>",
                        "<Field name=\"_fold\" kind=\"categorical-numeric\"><Category value=\"1\"/>"
                        "<Category value=\"2\"/><Category value=\"3\"/></Field></Dictionary>"),
                "</Parameters>",
                "<Parameter key=\"IsAutoKSelection\" type=\"bool\" value=\"true\"/>"
                "<Parameter key=\"VFoldVar\" type=\"string\" value=\"_fold\"/></Parameters>"),
        "s.xml");
    EXPECT_NE(std::find(settings.usedFields.begin(), settings.usedFields.end(), 7),
              settings.usedFields.end());
    const LoadedData training = Load(kTraining);
    EXPECT_TRUE(training.foldSupplied);
    std::vector<double> folds;
    for (long i = 0; i < training.Records(); ++i) {
        folds.push_back(training.Record(i)[7]);
    }
    EXPECT_EQ(folds, (std::vector<double>{0, 1, 2, 0, 1, 2, 0, 1}));
    // Records to score need no fold.
    const LoadedData scoring = Load("x1,x2,colour\n1,2,red\n", DataRole::kScoring);
    EXPECT_FALSE(scoring.foldSupplied);
    EXPECT_EQ(scoring.Record(0)[7], -1.0);
}

// ---------------------------------------------------------------------------------------------
// Inferring settings

TEST(InferSettings, BuildsADictionaryThatReadsBackWithTheRightRoles) {
    TempDir dir;
    InitOptions options;
    options.data = dir.Write("d.csv",
                             "size,kind,level,flag,note,label\n"
                             "3.5,beta,2,1,x,n1\n"
                             "1,alpha,1,1,y,n2\n"
                             "NA,\"gam,ma\",3,1,z,n3\n");
    options.targets = {"label"};
    options.categorical = {"level"};
    options.exclude = {"note"};
    options.tempDir = "/tmp/";
    const InferredSettings inferred = InferSettings(options, nullptr);

    const AnalysisSettings settings = ParseSettings(inferred.document, "inferred.xml");
    const VelXML_940::VelVarList& dictionary = *settings.dictionary;
    // "flag" is constant and "note" excluded; the identifier, focal and fold fields are added.
    ASSERT_EQ(dictionary.Size(), 7);
    const auto* size = dynamic_cast<const VelXML_940::VelContVar*>(dictionary.GetVarAt(0));
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->GetMin(), 1.0);
    EXPECT_EQ(size->GetMax(), 3.5);
    EXPECT_EQ(settings.CategoryText(1, 0), "alpha");
    EXPECT_EQ(settings.CategoryText(1, 2), "gam,ma");
    EXPECT_EQ(dictionary.GetVarAt(2)->GetKind(), VelXML_940::kNumericCategorical);
    EXPECT_EQ(settings.FieldName(settings.caseId), "_row");
    EXPECT_EQ(settings.FieldName(settings.focal), "_focal");
    EXPECT_EQ(settings.targets, std::vector<int>{3});
    EXPECT_EQ(settings.features, (std::vector<int>{0, 1, 2}));
    EXPECT_NE(inferred.document.find("value=\"/tmp/\""), std::string::npos);
    EXPECT_EQ(settings.FieldName(settings.fold), "_fold");
    EXPECT_TRUE(settings.UsesFolds());
    ASSERT_EQ(inferred.notes.size(), 4u);
    EXPECT_NE(inferred.notes[0].find("\"flag\""), std::string::npos);
}

TEST(InferSettings, FitsFoldsAndTheRangeOfKToTheNumberOfRecords) {
    TempDir dir;
    const auto parameters = [&dir](int records, int k) {
        std::string csv = "x,y\n";
        for (int i = 0; i < records; ++i) {
            csv += std::to_string(i) + (i % 2 ? ",p\n" : ",q\n");
        }
        InitOptions options;
        options.data = dir.Write("d.csv", csv);
        options.targets = {"y"};
        options.k = k;
        const std::string document = InferSettings(options, nullptr).document;
        return document.substr(document.find("<Parameters>"));
    };
    const auto has = [](const std::string& text, const char* key, const char* value) {
        return Contains(text, "key=\"" + std::string(key) + "\" type=\"" +
                                  (std::string(key) == "IsAutoKSelection" ? "bool" : "int") +
                                  "\" value=\"" + value + "\"");
    };
    // Ten folds, and MaxK 10 as long as the records outside the largest fold allow it.
    std::string text = parameters(12, 0);
    EXPECT_TRUE(has(text, "VFoldValue", "10") && has(text, "MinK", "3") && has(text, "MaxK", "10"))
        << text;
    // Fewer records than folds: one record per fold.
    text = parameters(4, 0);
    EXPECT_TRUE(has(text, "VFoldValue", "4") && has(text, "MinK", "2") && has(text, "MaxK", "3"))
        << text;
    // Two records cannot be cross-validated with MinK below MaxK: K is fixed.
    text = parameters(2, 0);
    EXPECT_TRUE(has(text, "IsAutoKSelection", "false") && has(text, "SpecifiedK", "1")) << text;
    text = parameters(12, 7);
    EXPECT_TRUE(has(text, "IsAutoKSelection", "false") && has(text, "SpecifiedK", "7")) << text;
    EXPECT_FALSE(Contains(text, "VFoldVar"));
}

TEST(InferSettings, RejectsOptionsThatDoNotFitTheData) {
    TempDir dir;
    InitOptions options;
    options.data = dir.Write("d.csv", "a,b,y\n1,2,p\n2,3,p\n");
    options.targets = {"y"};
    EXPECT_THROW(InferSettings(options, nullptr), CliError);  // constant target
    options.targets = {"z"};
    EXPECT_THROW(InferSettings(options, nullptr), CliError);  // no such column
    options.targets = {"a"};
    options.id = "y";
    EXPECT_THROW(InferSettings(options, nullptr), CliError);  // identifier not numeric
}

// ---------------------------------------------------------------------------------------------
// Reading the model document and describing the models

const char* const kAnalysisColumns =
    "<RowNames/><ColumnNames>distanceMetric;continuousTransformation;"
    "categoricalTransformationselected;continuousPrediction;K;selectedFeatures</ColumnNames>";

std::string Document(const std::string& models) {
    return std::string(
               "<?xml version=\"1.0\"?>\n<PMML version=\"4.3\" "
               "xmlns=\"http://www.dmg.org/PMML-4_3\">\n"
               "<DataDictionary numberOfFields=\"1\"><DataField name=\"a\"/></DataDictionary>\n"
               "<Extension name=\"Models\"><NearestNeighborModels>\n"
               "<SimpleTable name=\"originalData\"><RowNames/><ColumnNames>ID;a</ColumnNames>"
               "<Row>1;2</Row></SimpleTable>\n") +
           models + "</NearestNeighborModels></Extension>\n</PMML>\n";
}

TEST(ModelDocument, ReadsKFeaturesAndSelectionHistoriesOfEveryModel) {
    TempDir dir;
    const std::string path = dir.Write(
        "m.pmml",
        Document(std::string("<NearestNeighborModel modelName=\"y\" response=\"y\">"
                             "<SimpleTable name=\"AnalysisOptions\">") +
                 kAnalysisColumns +
                 "<Row>Euclidean;Normalized;one-of-c;Mean;4;1</Row></SimpleTable>\n"
                 "<MiningSchema><MiningField name=\"a\" importance=\"0.25\" usageType=\"active\">"
                 "<Extension name=\"weight\" value=\"0.5\"/></MiningField>"
                 "<MiningField name=\"b\" usageType=\"supplementary\"/>"
                 "<MiningField name=\"c;d\" importance=\"0.75\" usageType=\"active\"/>"
                 "<MiningField name=\"y\" usageType=\"predicted\"/></MiningSchema>\n"
                 "<SimpleTable name=\"FeatureSelection\"><Metadata name=\"method\" "
                 "value=\"forwardSelection\"/><RowNames/><ColumnNames>model;features;error;selected"
                 "</ColumnNames><Row>0;a+b;0.5;no</Row><Row>1;c;d;0.25;yes</Row></SimpleTable>\n"
                 "<SimpleTable name=\"neighborsDistances\"><RowNames/><ColumnNames>ID</ColumnNames>"
                 "<Row>not;read</Row></SimpleTable></NearestNeighborModel>\n"
                 "<NearestNeighborModel modelName=\"z\" response=\"z\">"
                 "<SimpleTable name=\"AnalysisOptions\">" +
                 kAnalysisColumns +
                 "<Row>Euclidean;Normalized;one-of-c;Mean;3;1</Row></SimpleTable>"
                 "<SimpleTable name=\"KSelection\"><RowNames/><ColumnNames>K;error</ColumnNames>"
                 "<Row>3;0.1</Row><Row>4;nan</Row></SimpleTable></NearestNeighborModel>\n"
                 "<NearestNeighborModel modelName=\"w\" response=\"w\">"
                 "<SimpleTable name=\"FeatureKSelection\"><RowNames/><ColumnNames>model;features;"
                 "K;error;selected</ColumnNames><Row>1;a;3;0.2;no</Row><Row>1;b;4;0.1;yes</Row>"
                 "</SimpleTable></NearestNeighborModel>\n"));
    const std::vector<DocumentModel> models = ReadModelDocument(path, nullptr);
    ASSERT_EQ(models.size(), 3u);

    const DocumentModel& y = models[0];
    EXPECT_EQ(y.response, "y");
    EXPECT_EQ(y.k, 4);
    EXPECT_EQ(y.selectedFeatures, 1);
    ASSERT_EQ(y.features.size(), 2u);
    EXPECT_EQ(y.features[0].name, "a");
    EXPECT_EQ(y.features[0].importance, 0.25);
    EXPECT_EQ(y.features[0].weight, 0.5);
    EXPECT_EQ(y.features[1].name, "c;d");
    EXPECT_FALSE(y.features[1].weight);
    ASSERT_EQ(y.steps.size(), 2u);
    EXPECT_EQ(y.steps[0].step, 0);
    EXPECT_EQ(y.steps[0].features, "a+b");
    EXPECT_EQ(y.steps[1].features, "c;d");  // a ';' in a name does not shift the cells
    EXPECT_EQ(y.steps[1].error, 0.25);
    EXPECT_FALSE(y.jointSelection);

    const DocumentModel& z = models[1];
    EXPECT_EQ(z.k, 3);
    ASSERT_EQ(z.kErrors.size(), 2u);
    EXPECT_EQ(z.kErrors[0].k, 3);
    EXPECT_EQ(z.kErrors[0].error, 0.1);
    EXPECT_TRUE(std::isnan(z.kErrors[1].error));

    const DocumentModel& w = models[2];
    EXPECT_FALSE(w.k);
    EXPECT_TRUE(w.jointSelection);
    ASSERT_EQ(w.steps.size(), 2u);
    EXPECT_EQ(w.steps[1].k, 4);
    EXPECT_EQ(w.steps[1].features, "b");
}

TEST(ModelDocument, RejectsDocumentsItCannotReadWithTheReason) {
    TempDir dir;
    const auto failure = [&dir](const std::string& text) -> std::string {
        try {
            ReadModelDocument(dir.Write("m.pmml", text), nullptr);
        } catch (const ModelDocumentError& e) {
            return e.what();
        }
        return "no error";
    };
    const std::string whole = Document(
        "<NearestNeighborModel response=\"y\"><SimpleTable name=\"KSelection\"><RowNames/>"
        "<ColumnNames>K;error</ColumnNames><Row>three;0.1</Row></SimpleTable>"
        "</NearestNeighborModel>\n");
    EXPECT_TRUE(Contains(failure(whole), "the row \"three;0.1\" of the table KSelection"));
    EXPECT_TRUE(Contains(failure(whole.substr(0, whole.size() / 2)), "line "));
    EXPECT_EQ(failure(Document("")), "the document holds no model");
    EXPECT_THROW(ReadModelDocument(dir / "absent.pmml", nullptr), ModelDocumentError);
}

TEST(ModelSummary, ShowsHowKAndTheFeaturesWereChosen) {
    const AnalysisSettings settings = ParseSettings(kSettings, "s.xml");
    DocumentModel model;
    model.response = "class";
    model.k = 14;
    for (int k = 3; k <= 14; ++k) {
        model.kErrors.push_back({k, 0.5 - 0.01 * k});
    }
    model.features = {{"x1", 0.4, 0.4}, {"x2", 0.6, 0.6}};
    std::ostringstream out;
    PrintModels(out, settings, {model}, "");
    EXPECT_EQ(out.str(),
              "Target \"class\" (categorical, 2 categories): K = 14\n"
              "  K chosen by cross-validation; misclassified cases per K:\n"
              "    error 36.00% at K = 14; from 36.00% to 47.00% over K = 3 ... 14\n"
              "    K is the largest tried; a larger MaxK may give a lower error\n"
              "  features in use, by importance (also their weight):\n"
              "    x2  0.6000\n"
              "    x1  0.4000\n");

    // Joint selection: the errors of every K, the steps of the chosen one only.
    model.kErrors.clear();
    model.k = 4;
    model.jointSelection = true;
    model.steps = {
        {0, "x1", 3, 0.5}, {1, "x2", 3, 0.25}, {0, "x1", 4, 0.5}, {1, "colour", 4, 0.125}};
    model.features = {{"x1", 0.5, std::nullopt}, {"colour", 0.5, 0.25}};
    out.str("");
    PrintModels(out, settings, {model}, "");
    EXPECT_TRUE(Contains(out.str(), "    K           3       4\n    error  25.00%  12.50%\n"))
        << out.str();
    EXPECT_TRUE(Contains(out.str(),
                         "  features added at K = 4, with the misclassified cases "
                         "after each step:\n"
                         "    forced  x1      50.00%\n"
                         "    1.      colour  12.50%\n"
                         "  features in use, by importance, with their weight:\n"
                         "    x1      0.5000\n"
                         "    colour  0.5000  0.2500\n"))
        << out.str();

    out.str("");
    PrintModels(out, settings, {}, "the reason");
    EXPECT_EQ(out.str(),
              "Target \"class\" (categorical, 2 categories)\n"
              "K and features could not be read: the reason\n");
}

// ---------------------------------------------------------------------------------------------
// Scoring results and messages

TEST(ScoringResult, DecodesEveryLayout) {
    TargetResult result;
    // Categorical, 2 categories, 2 neighbours: ids, distances, probabilities, predictions, labels.
    ASSERT_TRUE(DecodeResult({7, 9, 0.5, 0.75, 0.6, 0.4, 1, 0, -1, -1}, 2, result));
    EXPECT_EQ(result.ids, (std::vector<double>{7, 9}));
    EXPECT_EQ(result.probabilities, (std::vector<double>{0.6, 0.4}));
    EXPECT_EQ(result.predictions, (std::vector<double>{1, 0}));
    ASSERT_TRUE(DecodeResult({7, 9, 0.5, 0.75, 10, 12, -1, -1}, 0, result));
    EXPECT_EQ(result.predictions, (std::vector<double>{10, 12}));
    ASSERT_TRUE(DecodeResult({7, 0.5, -1}, -1, result));
    EXPECT_TRUE(result.predictions.empty());
    EXPECT_FALSE(DecodeResult({7, 0.5, 1, 2, 3}, 2, result));
}

TEST(ScoringResult, OrdersCategoricalTargetsFirst) {
    const AnalysisSettings settings =
        ParseSettings(Replace(kSettings, "<Target name=\"class\"/>",
                              "<Target name=\"x1\"/><Target name=\"class\"/>"),
                      "s.xml");
    EXPECT_EQ(ResultOrder(settings), (std::vector<int>{4, 0}));
}

TEST(StatusSentences, NameTheFieldAndKeepTheComponentsExplanation) {
    const AnalysisSettings settings = ParseSettings(kSettings, "s.xml");
    VelCommon_940::VelStatus constant(200035, false);
    constant.SetDiscreteDatum(0, 1);
    EXPECT_EQ(DescribeStatus(constant, &settings).find("the feature \"x2\" has the same value"),
              0u);
    VelCommon_940::VelStatus unknown(200022, false);
    unknown.SetMessage("the predictor 'z' is not in the dictionary");
    const std::string sentence = DescribeStatus(unknown, &settings);
    EXPECT_NE(sentence.find("not in the dictionary: the predictor 'z'"), std::string::npos);
    EXPECT_NE(sentence.find("(status 200022)"), std::string::npos);
    EXPECT_NE(DescribeStatus(VelCommon_940::VelStatus(424242, false), nullptr).find("424242"),
              std::string::npos);
}

TEST(PredictionFile, HoldsRecordsBackUntilTheNeighbourColumnsAreKnown) {
    // Two targets and case labels: columns per target, named after it.
    const AnalysisSettings settings =
        ParseSettings(Replace(Replace(kSettings, "<Target name=\"class\"/>",
                                      "<Target name=\"x1\"/><Target name=\"class\"/>"),
                              "<Parameter key=\"SpecifiedK\"",
                              "<Parameter key=\"use_caselabels\" type=\"bool\" value=\"true\"/>"
                              "<Parameter key=\"CaseLabelVar\" type=\"string\" value=\"colour\"/>"
                              "<Parameter key=\"SpecifiedK\""),
                      "s.xml");
    std::ostringstream out;
    PredictionWriter writer(out, settings, "_row", 3);
    writer.Add({"1", {}});  // not scored: waits for the header
    TargetResult cls;
    ASSERT_TRUE(DecodeResult({4, 0.123456, 0.25, 0.75, 1, 1}, 2, cls));
    TargetResult x1;
    ASSERT_TRUE(DecodeResult({4, 0.123456, 2.5, 0}, 0, x1));
    writer.Add({"2", {cls, x1}});
    writer.Finish();
    EXPECT_EQ(out.str(),
              "_row,class_predicted,class_prob_a,class_prob_b,class_neighbor_1,"
              "class_distance_1,class_label_1,x1_predicted,x1_neighbor_1,x1_distance_1,"
              "x1_label_1\n"
              "1,,,,,,,,,,\n"
              "2,b,0.25,0.75,4,0.123,red,2.5,4,0.123,blue\n");
}

TEST(OutputFile, AppearsOnlyWhenCommitted) {
    TempDir dir;
    {
        OutputFile file(dir / "out.txt");
        file.Stream() << "half";
        EXPECT_EQ(dir.Files().size(), 1u);  // the temporary file only
    }
    EXPECT_TRUE(dir.Files().empty());
    {
        OutputFile file(dir / "out.txt");
        file.Stream() << "whole";
        file.Commit();
    }
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"out.txt"});
    EXPECT_EQ(ReadFile(dir / "out.txt"), "whole");
    try {
        OutputFile file(dir / "no/such/dir/out.txt");
        FAIL() << "created a file in a missing directory";
    } catch (const CliError& e) {
        EXPECT_EQ(e.Code(), kExitOutput);
    }
}

// A report as the component hands it over after a stage.
class StageReport : public VelCommon_940::ProgressReport {
public:
    StageReport(int stage, int count) : stage_(stage), count_(count) {}
    int DiscreteMeasure(const std::string& name) override {
        return name == "ReportStage"                        ? stage_
               : name == ConsoleProgress::StageName(stage_) ? count_
                                                            : -1;
    }
    double ScaleMeasure(const std::string& name) override {
        return name == "elapsedTime" ? 0.25 : VelCommon_940::VelMV::Missing();
    }

private:
    int stage_;
    int count_;
};

TEST(Progress, OneLinePerStageUnlessQuiet) {
    std::ostringstream lines;
    ConsoleProgress progress(lines, false, false);
    StageReport cases(0, 30000);
    StageReport built(2, 1);
    StageReport unknown(42, 1);
    progress.Notify(&cases);
    progress.Notify(&built);
    progress.Notify(&unknown);
    progress.Advance("scoring", 1, 2);  // only on a terminal
    EXPECT_EQ(lines.str(),
              "knn: reading cases: 30000 valid so far (0.25 s processor time)\n"
              "knn: building the model: done (0.25 s processor time)\n");

    std::ostringstream silent;
    ConsoleProgress quiet(silent, true, true);
    quiet.Notify(&built);
    quiet.Step("reading");
    EXPECT_EQ(silent.str(), "");
}

// ---------------------------------------------------------------------------------------------
// The program, end to end

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the program with `args` in `dir`, with its output captured in files. When `dir` has a
// subdirectory "tmp", it is the program's temporary directory ($TMPDIR).
pid_t Start(const TempDir& dir, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir((dir / "").c_str()) != 0) {
            _exit(126);
        }
        if (fs::is_directory(dir / "tmp")) {
            setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        }
        if (freopen("stdout.txt", "w", stdout) == nullptr ||
            freopen("stderr.txt", "w", stderr) == nullptr) {
            _exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(KNN_CLI_PATH)};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(KNN_CLI_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

Outcome Finish(const TempDir& dir, pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome outcome;
    outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadFile(dir / "stdout.txt");
    outcome.err = ReadFile(dir / "stderr.txt");
    fs::remove(dir / "stdout.txt");
    fs::remove(dir / "stderr.txt");
    return outcome;
}

Outcome Knn(const TempDir& dir, const std::vector<std::string>& args) {
    return Finish(dir, Start(dir, args));
}

// Every run has a temporary directory of its own, for the program ($TMPDIR) and the component
// (TempFileDir), which must be empty when the test ends: nothing is left behind, whatever the
// outcome.
class Program : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir / "tmp");
        dir.Write("s.xml", Replace(kSettings, "/tmp/", dir / "tmp/"));
        dir.Write("train.csv", kTraining);
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "a temporary file was left behind";
    }
    Outcome Run(const std::string& data, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"run", "--settings", "s.xml", "--data", data};
        args.insert(args.end(), more.begin(), more.end());
        return Knn(dir, args);
    }
    TempDir dir;
};

TEST_F(Program, BuildsSummarisesAndScores) {
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\n9,9,red\n5,NA,red\n2,2,green\n");
    const Outcome run = Run("train.csv", {"--score", "new.csv", "--predictions", "out.csv"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "records read    8")) << run.out;
    EXPECT_TRUE(Contains(run.out, "valid cases     8"));
    EXPECT_TRUE(Contains(run.out, "Target \"class\" (categorical, 2 categories): K = 3"));
    EXPECT_TRUE(Contains(run.out, "features: x1, x2, colour"));
    EXPECT_TRUE(Contains(run.out, "Scored 2 of 4 records"));
    EXPECT_TRUE(Contains(run.out, "1  missing value in field \"x2\""));
    EXPECT_TRUE(Contains(run.out, "1  unknown category in field \"colour\""));
    EXPECT_TRUE(Contains(run.err, "building the model"));

    const auto rows = ReadAll(ReadFile(dir / "out.csv"));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{
                           "_row", "class_predicted", "class_prob_a", "class_prob_b", "neighbor_1",
                           "distance_1", "neighbor_2", "distance_2", "neighbor_3", "distance_3"}));
    EXPECT_EQ(rows[1][0], "1");
    EXPECT_EQ(rows[1][1], "a");
    EXPECT_EQ(rows[1][4], "1");  // an exact copy of training record 1, at distance 0
    EXPECT_EQ(rows[1][5], "0");
    EXPECT_EQ(rows[2][1], "b");
    // A record that cannot be scored keeps its line, with empty cells.
    EXPECT_EQ(rows[3], (std::vector<std::string>{"3", "", "", "", "", "", "", "", "", ""}));
}

TEST_F(Program, CountsDroppedCasesAndSendsPredictionsToStandardOutput) {
    dir.Write("mixed.csv", std::string(kTraining) + "a,1,NA,blue,1,z\nb,1,1,green,1,z\n");
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\n");
    const Outcome run = Run("mixed.csv", {"--score", "new.csv", "--predictions", "-", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "cases dropped   2"));
    EXPECT_TRUE(Contains(run.err, "1  missing value in field \"x1\""));
    EXPECT_TRUE(
        Contains(run.err, "1  unknown category in field \"colour\" (for example \"green\")"));
    EXPECT_FALSE(Contains(run.err, "building the model"));  // quiet
    EXPECT_EQ(ReadAll(run.out).size(), 2u);
}

TEST_F(Program, BadDataGivesExitCode3WithFileLineAndColumn) {
    dir.Write("short.csv", "x1,x2,colour,grade\n1,2,blue,1\n");
    Outcome run = Run("short.csv");
    EXPECT_EQ(run.code, kExitData);
    EXPECT_TRUE(Contains(run.err, "short.csv:1: the header has no column for the field \"class\""))
        << run.err;

    dir.Write("bad.csv", std::string(kTraining) + "a,1,x,blue,1,z\n");
    run = Run("bad.csv");
    EXPECT_EQ(run.code, kExitData);
    EXPECT_TRUE(Contains(run.err, "bad.csv:10:3: \"x\" is not a number")) << run.err;

    dir.Write("empty.csv", "");
    run = Run("empty.csv");
    EXPECT_EQ(run.code, kExitData);
    EXPECT_TRUE(Contains(run.err, "empty.csv:1: the file is empty")) << run.err;

    run = Run("absent.csv");
    EXPECT_EQ(run.code, kExitData);
    EXPECT_TRUE(Contains(run.err, "cannot open the data file absent.csv"));
}

TEST_F(Program, UnusableSettingsGiveExitCode4NamingTheCause) {
    dir.Write("s.xml",
              Replace(kSettings, "<Predictor name=\"colour\"/>", "<Predictor name=\"color\"/>"));
    Outcome run = Run("train.csv");
    EXPECT_EQ(run.code, kExitSettings);
    EXPECT_TRUE(Contains(run.err, "'color'")) << run.err;
    EXPECT_TRUE(Contains(run.err, "(status 200022)"));

    dir.Write("s.xml", "<Settings><Dictionary>");
    run = Run("train.csv");
    EXPECT_EQ(run.code, kExitSettings);
    EXPECT_TRUE(Contains(run.err, "not well-formed XML")) << run.err;
}

TEST_F(Program, BuildFailureGivesExitCode5AndTheDataContext) {
    dir.Write("few.csv", "x1,x2,colour,grade,class\n1,1,blue,1,a\n1,NA,red,1,b\n");
    const Outcome run = Run("few.csv");
    EXPECT_EQ(run.code, kExitBuild);
    EXPECT_TRUE(Contains(run.err, "no model could be built")) << run.err;
    EXPECT_TRUE(Contains(run.err, "of which 1 are valid cases"));
}

TEST_F(Program, WritesTheModelDocumentOrNoFileAtAll) {
    Outcome run = Run("train.csv", {"--pmml", "model.pmml", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(ReadFile(dir / "model.pmml"), "<PMML"));
    fs::remove(dir / "model.pmml");

    // The component cannot create its temporary files: the run fails after the build, and
    // neither the model document nor the predictions are left behind.
    dir.Write("s.xml", Replace(kSettings, "value=\"/tmp/\"", "value=\"/nonexistent/knn/\""));
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\n");
    const std::vector<std::string> before = dir.Files();
    run = Run("train.csv",
              {"--pmml", "model.pmml", "--score", "new.csv", "--predictions", "out.csv"});
    EXPECT_EQ(run.code, kExitModelUse) << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot write the model document model.pmml")) << run.err;
    EXPECT_TRUE(Contains(run.err, "(status 200057)")) << run.err;
    EXPECT_EQ(dir.Files(), before);

    // Without --pmml the model facts are best effort: the summary says why they are missing,
    // and the predictions are written all the same.
    run = Run("train.csv", {"--score", "new.csv", "--predictions", "out.csv"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out,
                         "Target \"class\" (categorical, 2 categories)\n"
                         "K and features could not be read: the component could not "
                         "write the model document: "))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "(status 200057)"));
    EXPECT_TRUE(fs::exists(dir / "out.csv"));
}

TEST_F(Program, SummaryNamesTheFeatureThatForwardSelectionFinds) {
    // "x" alone decides the class; "n1" and "n2" are noise.
    std::string data = "x,n1,n2,class\n";
    for (int i = 0; i < 40; ++i) {
        data += std::to_string(i < 20 ? i * 0.02 : 0.6 + (i - 20) * 0.02) + "," +
                std::to_string((i * 37) % 41 / 40.0) + "," + std::to_string((i * 11) % 13 / 12.0) +
                (i < 20 ? ",a\n" : ",b\n");
    }
    dir.Write("sel.csv", data);
    ASSERT_EQ(
        Knn(dir, {"init", "--data", "sel.csv", "--target", "class", "--out", "sel.xml", "-q"}).code,
        0);
    // Feature selection with weights, and K chosen with the features.
    dir.Write("sel.xml",
              Replace(ReadFile(dir / "sel.xml"), "</Parameters>",
                      "<Parameter key=\"IsFeatureSelection\" type=\"bool\" value=\"true\"/>"
                      "<Parameter key=\"IsAutoFeatureSelection\" type=\"bool\" value=\"true\"/>"
                      "<Parameter key=\"IsFeatureWeight\" type=\"bool\" value=\"true\"/>"
                      "</Parameters>"));
    const Outcome run =
        Knn(dir, {"run", "--settings", "sel.xml", "--data", "sel.csv", "--pmml", "sel.pmml", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    // Every K finds "x" first, with no error left, so the smallest K wins.
    EXPECT_TRUE(Contains(run.out,
                         "Target \"class\" (categorical, 2 categories): K = 3\n"
                         "  K and features chosen together"))
        << run.out;
    EXPECT_TRUE(Contains(run.out,
                         "  features added at K = 3, with the misclassified cases after "
                         "each step:\n    1.  x  0.00%\n"
                         "  features in use, by importance (also their weight):\n"
                         "    x  1.0000\n"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "folds "));  // the fold field is not used
    EXPECT_TRUE(Contains(ReadFile(dir / "sel.pmml"),
                         "<MiningField name=\"n1\" "
                         "usageType=\"supplementary\"/>"));
}

TEST_F(Program, CommandLineMistakesGiveExitCode2) {
    EXPECT_EQ(Knn(dir, {}).code, kExitUsage);
    EXPECT_EQ(Knn(dir, {"frobnicate"}).code, kExitUsage);
    Outcome run = Knn(dir, {"run", "--settings", "s.xml"});
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_TRUE(Contains(run.err, "--data is required"));
    EXPECT_EQ(Run("train.csv", {"--score", "train.csv"}).code, kExitUsage);
    EXPECT_EQ(Run("train.csv", {"--predictions", "train.csv", "--score", "x.csv"}).code,
              kExitUsage);
    EXPECT_EQ(Run("train.csv", {"--bogus"}).code, kExitUsage);

    run = Knn(dir, {"--help"});
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(Contains(run.out, "Exit codes:"));
    EXPECT_TRUE(Contains(Knn(dir, {"run", "--help"}).out, "--predictions FILE"));
}

TEST_F(Program, MissingLibraryGivesExitCode7) {
    const Outcome run = Run("train.csv", {"--library", "nowhere/libknn800.so"});
    EXPECT_EQ(run.code, kExitLibrary);
    EXPECT_TRUE(Contains(run.err, "cannot load the component library nowhere/libknn800.so"));
}

TEST_F(Program, InitWritesSettingsThatRunAccepts) {
    dir.Write("plain.csv", "h,w,sex,kind\n1.5,60,1,p\n1.7,70,2,q\n1.6,65,1,p\n1.8,80,2,q\n");
    Outcome init = Knn(dir, {"init", "--data", "plain.csv", "--target", "kind", "--categorical",
                             "sex", "--out", "plain.xml"});
    ASSERT_EQ(init.code, 0) << init.err;
    EXPECT_TRUE(Contains(init.err, "\"_row\""));
    EXPECT_TRUE(Contains(ReadFile(dir / "plain.xml"), "<!-- Note: the data have no identifier"));

    Outcome run = Knn(dir, {"run", "--settings", "plain.xml", "--data", "plain.csv", "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out,
                         "  folds           by record number: 1, 2, ..., 4, 1, 2, ... "
                         "(the data have no column \"_fold\")"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "  K chosen by 4-fold cross-validation; misclassified cases"));
    EXPECT_TRUE(Contains(run.out, "features: h, w, sex"));
    EXPECT_FALSE(Contains(run.out, "Warnings:")) << run.out;

    init = Knn(
        dir, {"init", "--data", "plain.csv", "--target", "kind", "--k", "2", "--out", "fixed.xml"});
    ASSERT_EQ(init.code, 0) << init.err;
    EXPECT_FALSE(Contains(ReadFile(dir / "fixed.xml"), "_fold"));
    run = Knn(dir, {"run", "--settings", "fixed.xml", "--data", "plain.csv", "--quiet"});
    EXPECT_TRUE(Contains(run.out, ": K = 2\n  features: h, w, sex\n")) << run.out;
    EXPECT_EQ(Knn(dir, {"init", "--data", "plain.csv", "--target", "kind", "--k", "0"}).code,
              kExitUsage);

    init = Knn(dir, {"init", "--data", "plain.csv", "--target", "kind", "--out", "no/dir/x.xml"});
    EXPECT_EQ(init.code, kExitOutput);

    init = Knn(dir, {"init", "--data", "plain.csv", "--target", "nope"});
    EXPECT_EQ(init.code, kExitUsage);
    EXPECT_TRUE(Contains(init.err, "columns: h, w, sex, kind"));
}

TEST_F(Program, InterruptStopsTheRunAndLeavesNoOutput) {
    // Enough records that the run is still busy when the signal arrives.
    std::string big = "x1,x2,colour,grade,class\n";
    for (int i = 0; i < 150000; ++i) {
        big += std::to_string(i % 997 / 100.0) + "," + std::to_string(i % 101 / 10.1) +
               (i % 3 ? ",blue,1," : ",red,2,") + (i % 2 ? "a\n" : "b\n");
    }
    dir.Write("big.csv", big);
    const std::vector<std::string> before = dir.Files();
    const pid_t pid = Start(dir, {"run", "--settings", "s.xml", "--data", "big.csv", "--score",
                                  "big.csv", "--predictions", "out.csv"});
    // The program announces its first step once its signal handlers are in place.
    for (int i = 0; i < 500 && !Contains(ReadFile(dir / "stderr.txt"), "reading"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    const Outcome run = Finish(dir, pid);
    EXPECT_EQ(run.code, kExitInterrupted) << run.err;
    EXPECT_TRUE(Contains(run.err, "interrupted")) << run.err;
    EXPECT_EQ(dir.Files(), before);
}

TEST(Demo, RunsTheBundledExampleWithKChosenByCrossValidation) {
    TempDir dir;
    fs::create_directory(dir / "tmp");
    const Outcome run = Knn(dir, {"demo", "--quiet"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "records read    150"));
    EXPECT_TRUE(Contains(run.out, "  folds           by record number: 1, 2, ..., 10, 1, 2, ..."));
    EXPECT_TRUE(Contains(run.out,
                         "Target \"species\" (categorical, 3 categories): K = 6\n"
                         "  K chosen by 10-fold cross-validation; misclassified cases per K:\n"
                         "    K          3      4      5      6      7      8      9     10\n"
                         "    error  4.67%  4.00%  4.00%  3.33%  3.33%  3.33%  4.00%  4.67%\n"
                         "  features: sepal_length, sepal_width, petal_length, petal_width\n"))
        << run.out;
    // The predictions list the neighbours of the K the summary names.
    EXPECT_TRUE(Contains(run.out, ",neighbor_6,distance_6\n"));
    EXPECT_TRUE(Contains(run.out, "\n1,setosa,"));
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"tmp"});
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

}  // namespace

#endif  // KNN_CLI_PATH
