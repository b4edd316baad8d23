// The knn program run end to end on small files: exit codes, messages, outputs.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Errors.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

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
    // An unknown category of 70 characters is shown with its first 60 only.
    std::string long70;
    for (int i = 0; i < 70; ++i) {
        long70 += "\xC3\xA9";  // "é"
    }
    dir.Write("mixed.csv", std::string(kTraining) + "a,1,NA,blue,1,z\nb,1,1,green,1,z\nc,1,1," +
                               long70 + ",1,z\n");
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\n");
    const Outcome run = Run("mixed.csv", {"--score", "new.csv", "--predictions", "-", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "cases dropped   3"));
    EXPECT_TRUE(Contains(run.err, "1  missing value in field \"x1\""));
    EXPECT_TRUE(
        Contains(run.err, "2  unknown category in field \"colour\" (for example \"green\", \"" +
                              long70.substr(0, 120) + "\u2026\")"))
        << run.err;
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
    // and the predictions are written all the same. (The document read back has no case
    // tables; the field properties still need a temporary file.)
    dir.Write("s.xml", Replace(Replace(kSettings, "value=\"/tmp/\"", "value=\"/nonexistent/knn/\""),
                               "<Parameters>",
                               "<Parameters><Parameter key=\"fieldFormat\" type=\"string\" "
                               "value=\"&lt;a/&gt;\"/>"));
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

TEST_F(Program, ACompactModelDocumentLeavesOutTheCaseTablesOnly) {
    Outcome full = Run("train.csv", {"--pmml", "full.pmml", "-q"});
    ASSERT_EQ(full.code, 0) << full.err;
    Outcome compact = Run("train.csv", {"--pmml", "compact.pmml", "--compact", "-q"});
    ASSERT_EQ(compact.code, 0) << compact.err;
    EXPECT_EQ(Replace(compact.out, "compact.pmml", "full.pmml"), full.out);
    const std::string document = ReadFile(dir / "compact.pmml");
    for (const char* table : {"originalData", "neighborsDistances", "predictionProbability"}) {
        EXPECT_TRUE(Contains(ReadFile(dir / "full.pmml"), table)) << table;
        EXPECT_FALSE(Contains(document, table)) << table;
    }
    EXPECT_TRUE(Contains(document, "<ComplexTable name=\"modelQuality\">"));
    EXPECT_LT(document.size(), ReadFile(dir / "full.pmml").size());

    const Outcome alone = Run("train.csv", {"--compact"});
    EXPECT_EQ(alone.code, kExitUsage);
    EXPECT_TRUE(Contains(alone.err, "--compact needs --pmml")) << alone.err;
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
