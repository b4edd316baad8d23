// Reading data files in blocks and handing the training records to the component as they are
// read: records across the ends of blocks, the number syntax at its edges, the compact
// identifier texts, and the record source that streams a file.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "Csv.h"
#include "Data.h"
#include "Errors.h"
#include "IdentifierTexts.h"
#include "Progress.h"
#include "Settings.h"
#include "TrainingSource.h"

#include "CliTestSupport.h"
#include "fuzz/FuzzEntries.h"

using namespace knncli;
using namespace knncli_test;

namespace {

TEST(CsvBlocks, RecordsAcrossTheEndsOfBlocksReadAsFromOneBlock) {
    const std::string longText(40, 'x');
    const std::string texts[] = {
        // Byte-order mark, CRLF, blank lines, doubled quotes and line breaks in quoted fields.
        "\xEF\xBB\xBFname,v\r\n\r\n\"a \"\"b\"\"\nc\",12345678901234\r\n\n\"\",\"\"\"\"\r"
        "last,1",
        // Long plain fields with characters of two and three bytes at every offset.
        "a,b\n" + longText + "\xC3\xA9" + longText + ",1\n" + "\xE2\x82\xAC" + longText +
            ",x\xE2\x82\xAC\n" + longText + "," + longText + "\n",
        // A record far longer than a block, and one with more fields than are kept.
        "a,b,c\n" + std::string(300, 'y') + ",\"" + std::string(200, ',') + "\",z\n1,2,3,4,5\n",
        // Errors late in a record: bad UTF-8 deep in a long field, text after a closing quote,
        // a quoted field left open.
        "a,b\n" + longText + "," + longText + "\xE9" + longText + "\n",
        "a,b\n1,\"" + longText + "\"" + longText + "\n",
        "a,b\n1,2\n\"" + longText + "\n" + longText,
    };
    for (const std::string& text : texts) {
        for (const size_t keep : {SIZE_MAX, size_t{1}}) {
            const std::string expected = knn_fuzz::RecordTrace(text, kCsvBlockSize, keep);
            for (size_t block = 2; block <= 19; ++block) {
                ASSERT_EQ(knn_fuzz::RecordTrace(text, block, keep), expected)
                    << "block " << block << ", keep " << keep << ", text " << Quoted(text);
            }
        }
    }
    EXPECT_EQ(knn_fuzz::RecordTrace(texts[0], 3),
              "1/2:[name@1][v@1]\n3/2:[a \"b\"\nc@3][12345678901234@4]\n6/2:[@6][\"@6]\n"
              "7/2:[last@7][1@7]\nend at 56");
}

TEST(CsvNumbers, EdgesOfTheSyntaxAndTheValuesRead) {
    // Taken: blanks (spaces, tabs) around, one leading '+', a point with digits on one side
    // only, an exponent in either letter case, leading zeros.
    EXPECT_EQ(ParseNumber("\t7 "), 7.0);
    EXPECT_EQ(ParseNumber("5."), 5.0);
    EXPECT_EQ(ParseNumber("+.5"), 0.5);
    EXPECT_EQ(ParseNumber("007"), 7.0);
    EXPECT_EQ(ParseNumber("1E+2"), 100.0);
    EXPECT_TRUE(std::signbit(*ParseNumber("-0")));
    // Refused: what other number readers take (hexadecimal, infinities, a 'd' exponent, a
    // suffix), signs out of place, a lone point or exponent, other blanks and digits.
    for (const char* text :
         {".", "e5", "1e", "1e+", "++1", "-+1", "+ 1", "- 1", "0x1p3", "0X10", "infinity", "-inf",
          "1d5", "1f", "1 2", "1\xC2\xA0", "\xEF\xBC\x91", "\v1", "1\r"}) {
        EXPECT_FALSE(ParseNumber(text)) << text;
    }
    // The nearest double; a tie goes to the even one.
    EXPECT_EQ(ParseNumber("0.1"), 0.1);
    EXPECT_EQ(ParseNumber("9007199254740993"), 9007199254740992.0);
    EXPECT_EQ(ParseNumber("9007199254740995"), 9007199254740996.0);
    EXPECT_EQ(ParseNumber("1.7976931348623157e308"), std::numeric_limits<double>::max());
    EXPECT_EQ(ParseNumber("2.2250738585072014e-308"), std::numeric_limits<double>::min());
    EXPECT_EQ(ParseNumber("0.000000000000000000000000000001234567890123"), 1.234567890123e-30);
}

TEST(IdentifierTexts, KeepsEveryTextAndFindsTheFirstRecordOfAText) {
    IdentifierTexts texts;
    texts.PadTo(2);  // two records before the first identifier
    texts.Add("b7", true);
    texts.Add("", false);
    texts.Add("b7", true);  // a repeated text: the first record stays the one found
    for (int i = 0; i < 5000; ++i) {
        texts.Add("id" + std::to_string(i), true);
    }
    texts.Add("hidden", false);
    ASSERT_EQ(texts.size(), 5006u);
    EXPECT_EQ(texts[0], "");
    EXPECT_EQ(texts[2], "b7");
    EXPECT_EQ(texts.View(4), "b7");
    EXPECT_EQ(texts[5005], "hidden");
    EXPECT_EQ(texts.FirstRecord("b7"), 3);
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(texts.FirstRecord("id" + std::to_string(i)), 6 + i) << i;
    }
    EXPECT_EQ(texts.FirstRecord("hidden"), 0);
    EXPECT_EQ(texts.FirstRecord("id5000"), 0);
    EXPECT_EQ(texts.FirstRecord(""), 0);
}

class Streaming : public ::testing::Test {
protected:
    // Every record the source hands over, one value after another, until the end or a
    // refused record (which is then counted in `refused`).
    std::vector<double> Drain(TrainingSource& source, long limit = -1) {
        std::vector<double> values;
        for (long n = 0; n != limit; ++n) {
            const VelCommon_940::Record* record = source.Next();
            if (record == nullptr) {
                break;
            }
            if (record->Size() == 0) {
                ++refused;
                break;
            }
            values.insert(values.end(), record->Values().begin(), record->Values().end());
        }
        return values;
    }

    TempDir dir;
    AnalysisSettings settings = ParseSettings(kSettings, "s.xml");
    std::ostringstream progressText;
    ConsoleProgress progress{progressText, false, true};
    long refused = 0;
};

TEST_F(Streaming, HandsOverTheRecordsAsReadAndKeepsOnlyTheFacts) {
    const std::string path = dir.Write("d.csv", std::string(kTraining) +
                                                    "a,NA,1,blue,1,z\n"
                                                    "\"b\",\" 12\",\"3\",green,1,z\n");
    const LoadedData loaded = LoadData(path, settings, DataRole::kTraining, nullptr);
    TrainingSource source(path, settings, progress, nullptr);
    ASSERT_TRUE(source.Reset());
    ASSERT_TRUE(source.Reset());  // the component asks twice before it reads
    EXPECT_EQ(Drain(source), loaded.values);
    ASSERT_TRUE(source.Reset());  // a file is read again from its start
    EXPECT_EQ(Drain(source), loaded.values);
    EXPECT_EQ(refused, 0);

    const LoadedData facts = source.Finish();
    EXPECT_TRUE(facts.values.empty());
    EXPECT_EQ(facts.Records(), 10);
    EXPECT_EQ(facts.validCases, loaded.validCases);
    EXPECT_EQ(facts.dropped, loaded.dropped);
    EXPECT_EQ(facts.outOfRange, loaded.outOfRange);
    EXPECT_EQ(facts.unknownExamples, loaded.unknownExamples);
    EXPECT_EQ(loaded.Record(9)[1], 12.0);  // a quoted number is a number
}

TEST_F(Streaming, WhatStopsTheReadingStopsTheComponentAndIsThrownAfterwards) {
    const std::string bad =
        dir.Write("bad.csv", std::string(kTraining).insert(65, "a,2,two,red,1,z\n"));
    TrainingSource source(bad, settings, progress, nullptr);
    EXPECT_EQ(Drain(source).size(), 2u * 7u);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(source.Next(), nullptr);
    EXPECT_FALSE(source.Reset());
    try {
        source.Finish();
        FAIL() << "the bad cell was not reported";
    } catch (const CsvError& e) {
        EXPECT_EQ(std::string(e.what()), bad +
                                             ":4:3: \"two\" is not a number (field \"x1\" is "
                                             "continuous)");
    }

    const std::string good = dir.Write("good.csv", kTraining);
    TrainingSource stopped(good, settings, progress, [] { return true; });
    EXPECT_TRUE(Drain(stopped).empty());
    EXPECT_EQ(refused, 2);
    try {
        stopped.Finish();
        FAIL() << "the interruption was not reported";
    } catch (const CliError& e) {
        EXPECT_EQ(e.Code(), kExitInterrupted);
        EXPECT_EQ(std::string(e.what()),
                  "interrupted while reading " + good + "; no output file was written");
    }
}

TEST_F(Streaming, FinishReadsTheRecordsTheComponentLeft) {
    std::string text = kTraining;
    for (int i = 0; i < 10000; ++i) {
        text += "a,1,2,blue,1,z\n";
    }
    const std::string path = dir.Write("many.csv", text);
    TrainingSource early(path, settings, progress, nullptr);
    Drain(early, 5);
    const LoadedData facts = early.Finish();
    EXPECT_EQ(facts.Records(), 10008);
    EXPECT_EQ(facts.validCases, 10008);

    const std::string late = dir.Write("late.csv", text + "a,1,2,blue\n");
    TrainingSource left(late, settings, progress, nullptr);
    Drain(left, 5);
    EXPECT_THROW(left.Finish(), CsvError);
}

// Standard input is read once, as it comes: as training data, and as records to score (whose
// header cannot be looked at before the build without losing it).
TEST_F(Program, ReadsTrainingDataOrRecordsToScoreFromStandardInput) {
    dir.Write("stdin.txt", kTraining);
    const Outcome training = Run("-", {"-q", "--score", "train.csv", "--predictions", "p.csv"});
    ASSERT_EQ(training.code, 0) << training.err;
    const std::string expected = ReadFile(dir / "p.csv");

    const Outcome scoring = Run("train.csv", {"-q", "--score", "-", "--predictions", "p.csv"});
    ASSERT_EQ(scoring.code, 0) << scoring.err;
    EXPECT_TRUE(Contains(scoring.out, "Scored 8 of 8 records of -")) << scoring.out;
    EXPECT_EQ(ReadFile(dir / "p.csv"), expected);
}

}  // namespace

#endif  // KNN_CLI_PATH
