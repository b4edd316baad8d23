// The CSV reader and writer of the knn program, and the mapping of CSV records to the
// dictionary's fields.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Csv.h"
#include "Data.h"
#include "Settings.h"
#include "VelMV.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

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

TEST(CsvReader, HeaderIsLimitedInColumnsAndNameLength) {
    const auto headerError = [](const std::string& header) {
        std::istringstream in(header + "\n");
        CsvReader reader(in, "t.csv");
        try {
            ReadHeader(reader);
        } catch (const CsvError& e) {
            return e;
        }
        return CsvError("", 0, 0, "no error");
    };
    std::string columns = "c0";
    for (size_t i = 1; i < kMaxColumns; ++i) {
        columns += ",c" + std::to_string(i);
    }
    std::string name;
    for (size_t i = 0; i < kMaxColumnNameLength; ++i) {
        name += "\xC3\xA9";  // one character, two bytes
    }
    EXPECT_EQ(headerError(columns).Line(), 0);
    EXPECT_EQ(headerError("a," + name).Line(), 0);

    const CsvError wide = headerError(columns + ",more");
    EXPECT_EQ(wide.Line(), 1);
    EXPECT_EQ(wide.Column(), static_cast<int>(kMaxColumns) + 1);
    EXPECT_NE(wide.Message().find("has 100001 columns"), std::string::npos) << wide.Message();
    const CsvError longName = headerError("a," + name + "x");
    EXPECT_EQ(longName.Line(), 1);
    EXPECT_EQ(longName.Column(), 2);
    EXPECT_NE(longName.Message().find("has 1001 characters"), std::string::npos);

    // A record longer than its header is counted to its end, but not kept beyond the header.
    std::istringstream in("a,b\n1,2,3,4\n");
    CsvReader reader(in, "t.csv");
    std::vector<std::string> fields;
    ReadHeader(reader);
    try {
        ReadDataRecord(reader, fields, 2);
        FAIL() << "long record accepted";
    } catch (const CsvError& e) {
        EXPECT_EQ(e.Column(), 3);
        EXPECT_EQ(e.Message(), "this record has 4 fields, but the header has 2");
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"1", "2"}));
}

TEST(CsvMessages, QuotedTextsAreCutAfterSixtyCharacters) {
    std::string sixty;
    for (int i = 0; i < 60; ++i) {
        sixty += "\xE2\x82\xAC";  // "€"
    }
    EXPECT_EQ(Quoted(sixty), "\"" + sixty + "\"");
    EXPECT_EQ(Quoted(sixty + "\xE2\x82\xAC and more"), "\"" + sixty + "\u2026\"");
    EXPECT_EQ(Quoted(std::string(59, 'x') + "\r\n"), "\"" + std::string(59, 'x') + "\\r\u2026\"");

    std::istringstream twice(std::string(70, 'n') + "," + std::string(70, 'n') + "\n");
    CsvReader reader(twice, "t.csv");
    try {
        ReadHeader(reader);
        FAIL() << "duplicate accepted";
    } catch (const CsvError& e) {
        EXPECT_EQ(e.Message(), "the column name \"" + std::string(60, 'n') +
                                   "\u2026\" appears twice in the header");
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
    EXPECT_TRUE(IsMissingText("nan") && IsMissingText(" NaN ") && IsMissingText("NAN"));
    EXPECT_FALSE(IsMissingText("na") || IsMissingText("nana"));
}

TEST(CsvNumbers, TooCloseToZeroReadsAsZeroAndOnlyTooLargeIsRefused) {
    EXPECT_EQ(ParseNumber("1e-400"), 0.0);
    EXPECT_TRUE(std::signbit(*ParseNumber(" -1e-400")));
    EXPECT_EQ(ParseNumber("+4.9e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_FALSE(ParseNumber("1e400"));
    EXPECT_FALSE(ParseNumber("-1.8e308"));
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

}  // namespace

#endif  // KNN_CLI_PATH
