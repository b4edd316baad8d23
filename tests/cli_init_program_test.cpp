// knn init end to end: data with stray cells and text identifiers, the model choices that its
// options write, and knn run on the settings it wrote.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Errors.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

// Forty records: three measurements, a colour, a group of four, a text code, a class and an
// amount. Record r is on line r + 1 and starts with "r,".
std::string Records() {
    std::string csv = "x,y,z,colour,group,code,class,amount\n";
    for (int r = 1; r <= 40; ++r) {
        const int odd = r % 2;
        csv += std::to_string(r) + "," + std::to_string(odd * 10 + r % 7) + "," +
               std::to_string(r * 13 % 17) + "," + (r % 3 ? "red" : "blue") + "," +
               std::to_string(r % 4 + 1) + ",ID" + std::to_string(100 + r) + "," +
               (odd ? "a" : "b") + "," + std::to_string(r * 2.5 + odd * 20) + "\n";
    }
    return csv;
}

TEST_F(Program, InitStopsAtAStrayCellAndRunReadsNanAsMissing) {
    dir.Write("bad.csv", Replace(Records(), "\n3,", "\n\"1,234.5\","));
    Outcome init = Knn(dir, {"init", "--data", "bad.csv", "--target", "class", "--out", "s2.xml"});
    EXPECT_EQ(init.code, kExitData);
    EXPECT_TRUE(Contains(init.err,
                         "knn: error: bad.csv:4:1: \"1,234.5\" is not a number (numbers "
                         "use '.' as the decimal separator and no thousands separator)"))
        << init.err;
    EXPECT_FALSE(fs::exists(dir / "s2.xml"));

    dir.Write("nan.csv", Replace(Records(), "\n3,", "\nNaN,"));
    init = Knn(dir, {"init", "--data", "nan.csv", "--target", "class", "--out", "nan.xml"});
    ASSERT_EQ(init.code, 0) << init.err;
    // The codes, all different, are left out of the predictors, with a note.
    EXPECT_TRUE(Contains(init.err, "column \"code\" is left out of the predictors")) << init.err;
    const Outcome run = Knn(dir, {"run", "--settings", "nan.xml", "--data", "nan.csv", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "1  missing value in field \"x\"")) << run.out;
    EXPECT_TRUE(Contains(run.out, "features: x, y, z, colour, group, amount")) << run.out;
}

TEST_F(Program, InitWritesTheModelChoicesAskedForAndRunAcceptsThem) {
    dir.Write("d.csv", Records());
    struct Case {
        std::vector<std::string> options;
        std::string summary;  // a part of the summary of knn run
    };
    const std::vector<Case> cases = {
        {{"--target", "class", "--select", "auto", "--weight", "--exclude", "amount"},
         "features in use, by importance (also their weight):"},
        {{"--target", "class", "--select", "2", "--forced", "z", "--exclude", "amount"},
         "    forced  z"},
        {{"--target", "class", "--fold", "group", "--max-k", "20"},
         "K chosen by 4-fold cross-validation"},
        {{"--target", "amount", "--metric", "cityblock", "--median", "--no-rescale", "--folds", "5",
          "--min-k", "2", "--exclude", "class"},
         "Target \"amount\" (continuous): K = "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"init", "--data", "d.csv", "--out", "c.xml", "-q"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome init = Knn(dir, args);
        ASSERT_EQ(init.code, 0) << init.err;
        const Outcome run = Knn(dir, {"run", "--settings", "c.xml", "--data", "d.csv", "-q"});
        EXPECT_EQ(run.code, 0) << c.options[1] << ": " << run.err;
        EXPECT_TRUE(Contains(run.out, c.summary)) << c.options[1] << ":\n" << run.out;
        EXPECT_FALSE(Contains(run.out, "Warnings:")) << run.out;
    }

    const Outcome init = Knn(dir, {"init", "--data", "d.csv", "--target", "class", "--id", "code"});
    ASSERT_EQ(init.code, 0) << init.err;
    EXPECT_TRUE(
        Contains(init.out, "<Field name=\"code\" kind=\"continuous\" min=\"1\" max=\"40\"/>"));
    EXPECT_TRUE(Contains(init.err, "knn: note: the identifier column \"code\" holds texts"));
}

TEST_F(Program, InitRefusesOptionsThatContradictEachOther) {
    dir.Write("d.csv", Records());
    const std::vector<std::vector<std::string>> wrong = {
        {"--k", "3", "--max-k", "8"},
        {"--select", "auto", "--fold", "group"},
        {"--select", "2", "--select-stop", "0.1"},
        {"--forced", "x"},
        {"--select", "none"},
        {"--metric", "manhattan"},
        {"--folds", "1"},
    };
    for (const std::vector<std::string>& options : wrong) {
        std::vector<std::string> args{"init", "--data", "d.csv", "--target", "class"};
        args.insert(args.end(), options.begin(), options.end());
        const Outcome init = Knn(dir, args);
        EXPECT_EQ(init.code, kExitUsage) << options[0] << ": " << init.err;
        EXPECT_TRUE(Contains(init.err, options[0])) << init.err;
        EXPECT_EQ(init.out, "");
    }
}

}  // namespace

#endif  // KNN_CLI_PATH
