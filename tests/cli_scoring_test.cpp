// Scoring with the knn program end to end: each target's own K, identifiers written as they
// came, evaluation on a file with known targets, and runs that write all their outputs or none.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Errors.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

// The CSV records of `text` as rows of cells, and the column index of each header name.
struct Csv {
    std::vector<std::vector<std::string>> rows;
    std::map<std::string, size_t> column;
    explicit Csv(const std::string& text) : rows(ReadAll(text)) {
        for (size_t i = 0; i < rows.front().size(); ++i) {
            column[rows.front()[i]] = i;
        }
    }
    const std::string& At(size_t record, const std::string& name) const {
        return rows.at(record + 1).at(column.at(name));
    }
};

// K of `target` as the summary states it.
int SummaryK(const std::string& summary, const std::string& target) {
    const std::string lead = "Target \"" + target + "\"";
    const size_t at = summary.find(": K = ", summary.find(lead));
    return at == std::string::npos ? -1 : std::stoi(summary.substr(at + 6));
}

TEST(Scoring, EachTargetUsesItsOwnKAgainstPredictionsComputedFromScratch) {
    TempDir dir;
    fs::create_directory(dir / "tmp");
    const std::string iris = std::string(KNN_SOURCE_DIR) + "/examples/iris/iris.csv";
    ASSERT_EQ(Knn(dir, {"init", "-q", "--data", iris, "--target", "species", "--target",
                        "petal_width", "--out", "two.xml"})
                  .code,
              0);
    const Outcome run = Knn(dir, {"run", "-q", "--settings", "two.xml", "--data", iris, "--score",
                                  iris, "--predictions", "p.csv"});
    ASSERT_EQ(run.code, 0) << run.err;
    const int kSpecies = SummaryK(run.out, "species");
    const int kWidth = SummaryK(run.out, "petal_width");
    ASSERT_GT(kSpecies, 0);
    ASSERT_GT(kWidth, 0);
    ASSERT_NE(kSpecies, kWidth) << "the data no longer choose two different K";

    // From scratch: predictors rescaled by the declared range (the data's), Euclidean
    // distances, every training record a candidate (a scored record without an identifier
    // finds itself at distance 0).
    const Csv training(ReadFile(iris));
    const Csv predicted(ReadFile(dir / "p.csv"));
    const std::vector<std::string> features{"sepal_length", "sepal_width", "petal_length"};
    const size_t n = training.rows.size() - 1;
    std::vector<std::vector<double>> x(n);
    for (const std::string& name : features) {
        double low = INFINITY;
        double high = -INFINITY;
        for (size_t i = 0; i < n; ++i) {
            low = std::min(low, std::stod(training.At(i, name)));
            high = std::max(high, std::stod(training.At(i, name)));
        }
        for (size_t i = 0; i < n; ++i) {
            x[i].push_back(2.0 * (std::stod(training.At(i, name)) - low) / (high - low) - 1.0);
        }
    }
    const std::vector<std::string> species{"setosa", "versicolor", "virginica"};
    size_t checked = 0;
    for (size_t q = 0; q < n; ++q) {
        std::vector<std::pair<double, size_t>> order;
        for (size_t i = 0; i < n; ++i) {
            double sum = 0.0;
            for (size_t f = 0; f < features.size(); ++f) {
                sum += (x[q][f] - x[i][f]) * (x[q][f] - x[i][f]);
            }
            order.emplace_back(std::sqrt(sum), i);
        }
        std::sort(order.begin(), order.end());
        // Where the K-th and the next distance are equal, the K nearest are not one set.
        const auto boundaryTie = [&order](int k) {
            return std::fabs(order[static_cast<size_t>(k)].first -
                             order[static_cast<size_t>(k) - 1].first) < 1e-12;
        };
        if (boundaryTie(kSpecies) || boundaryTie(kWidth)) {
            continue;
        }
        ++checked;
        // The vote of the first kSpecies: ties to the lower category (equal frequencies).
        std::vector<int> votes(3, 0);
        for (int j = 0; j < kSpecies; ++j) {
            const std::string& label = training.At(order[static_cast<size_t>(j)].second, "species");
            ++votes[static_cast<size_t>(std::find(species.begin(), species.end(), label) -
                                        species.begin())];
        }
        const size_t winner =
            static_cast<size_t>(std::max_element(votes.begin(), votes.end()) - votes.begin());
        EXPECT_EQ(predicted.At(q, "species_predicted"), species[winner]) << "record " << q + 1;
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_NEAR(std::stod(predicted.At(q, "species_prob_" + species[c])),
                        (votes[c] + 1.0) / (kSpecies + 3.0), 1e-12);
        }
        double sum = 0.0;
        for (int j = 0; j < kWidth; ++j) {
            sum += std::stod(training.At(order[static_cast<size_t>(j)].second, "petal_width"));
        }
        EXPECT_NEAR(std::stod(predicted.At(q, "petal_width_predicted")), sum / kWidth, 1e-12);
        // Each target lists exactly its own K neighbours, nearest first.
        EXPECT_NEAR(std::stod(predicted.At(q, "species_distance_" + std::to_string(kSpecies))),
                    order[static_cast<size_t>(kSpecies) - 1].first, 1e-12);
        EXPECT_NEAR(std::stod(predicted.At(q, "petal_width_distance_" + std::to_string(kWidth))),
                    order[static_cast<size_t>(kWidth) - 1].first, 1e-12);
    }
    EXPECT_GT(checked, n / 2);
    EXPECT_EQ(predicted.column.count("species_neighbor_" + std::to_string(kSpecies + 1)), 0u);
    EXPECT_EQ(predicted.column.count("petal_width_neighbor_" + std::to_string(kWidth + 1)), 0u);
}

TEST_F(Program, IdentifiersComeOutAsTheyCameIn) {
    // Round numeric identifiers stay whole numbers.
    std::string data = "id,x,class\n";
    const std::vector<std::string> ids{"100000", "4000000", "1e6", "7", "300000000000"};
    const std::vector<std::string> xs{"0", "1", "3", "6", "10"};
    for (size_t i = 0; i < ids.size(); ++i) {
        data += ids[i] + "," + xs[i] + (i < 2 ? ",a\n" : ",b\n");
    }
    dir.Write("num.csv", data);
    ASSERT_EQ(Knn(dir, {"init", "-q", "--data", "num.csv", "--target", "class", "--id", "id", "--k",
                        "2", "--out", "num.xml"})
                  .code,
              0);
    Outcome run = Knn(dir, {"run", "-q", "--settings", "num.xml", "--data", "num.csv", "--score",
                            "num.csv", "--predictions", "num.out.csv"});
    ASSERT_EQ(run.code, 0) << run.err;
    Csv numeric(ReadFile(dir / "num.out.csv"));
    EXPECT_EQ(numeric.At(0, "id"), "100000");
    EXPECT_EQ(numeric.At(2, "id"), "1000000");
    // Record 1 carries its identifier, so it does not find itself.
    EXPECT_EQ(numeric.At(0, "neighbor_1"), "4000000");
    EXPECT_EQ(numeric.At(0, "neighbor_2"), "1000000");
    EXPECT_EQ(numeric.At(4, "neighbor_1"), "7");
    EXPECT_EQ(numeric.At(3, "neighbor_2"), "300000000000");
    EXPECT_EQ(numeric.At(3, "id"), "7");

    // Text identifiers: the component gets record numbers, the outputs show the texts; a
    // scored record with a training case's text does not find that case.
    data = "name,x,class\n";
    const std::vector<std::string> positions{"0", "1", "2", "3.5", "4", "5"};
    for (size_t i = 0; i < positions.size(); ++i) {
        data += "ID00" + std::to_string(i) + "," + positions[i] + (i < 3 ? ",a\n" : ",b\n");
    }
    dir.Write("text.csv", data);
    ASSERT_EQ(Knn(dir, {"init", "-q", "--data", "text.csv", "--target", "class", "--id", "name",
                        "--k", "2", "--out", "text.xml"})
                  .code,
              0);
    dir.Write("new.csv", "name,x\nID002,2\nnew one,2\n");
    run = Knn(dir, {"run", "-q", "--settings", "text.xml", "--data", "text.csv", "--score",
                    "new.csv", "--predictions", "text.out.csv"});
    ASSERT_EQ(run.code, 0) << run.err;
    const Csv text(ReadFile(dir / "text.out.csv"));
    ASSERT_EQ(text.rows.size(), 3u);
    EXPECT_EQ(text.At(0, "name"), "ID002");
    EXPECT_EQ(text.At(0, "neighbor_1"), "ID001");
    EXPECT_EQ(text.At(0, "neighbor_2"), "ID003");
    EXPECT_EQ(text.At(0, "class_prob_a"), "0.5");
    EXPECT_EQ(text.At(1, "name"), "new one");
    EXPECT_EQ(text.At(1, "neighbor_1"), "ID002");
    EXPECT_EQ(text.At(1, "distance_1"), "0");
    EXPECT_EQ(text.At(1, "neighbor_2"), "ID001");
    EXPECT_EQ(text.At(1, "class_prob_a"), "0.75");
}

TEST_F(Program, ScoreFileWithTargetsIsEvaluatedAndItsRangeNoted) {
    dir.Write("test.csv",
              "x1,x2,colour,class\n1,1,blue,a\n9,9,red,a\n2,2,blue,b\n8,8,red,b\n30,1,red,\n");
    const Outcome run = Run("train.csv", {"--score", "test.csv", "--predictions", "p.csv", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out,
                         "Evaluation on the 4 records of test.csv with a known \"class\":\n"
                         "  misclassified 2 of 4 (50.00%)\n"
                         "  counts of observed (rows) against predicted (columns) categories:\n"
                         "       a  b\n"
                         "    a  1  1\n"
                         "    b  1  1\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out,
                         "Notes on test.csv:\n  - 1 value of the field \"x1\" lies outside its "
                         "declared range"))
        << run.out;
}

TEST_F(Program, OutputsAreWrittenAllTogetherOrNotAtAll) {
    const std::vector<std::string> before = dir.Files();
    // A score file without a feature's column is refused before the build.
    dir.Write("typo.csv", "x1,x_2,colour\n1,1,blue\n");
    Outcome run =
        Run("train.csv", {"--pmml", "m.pmml", "--score", "typo.csv", "--predictions", "p.csv"});
    EXPECT_EQ(run.code, kExitData);
    EXPECT_TRUE(Contains(run.err, "typo.csv:1: the header has no column for the field \"x2\""))
        << run.err;
    EXPECT_FALSE(Contains(run.err, "building the model")) << run.err;
    fs::remove(dir / "typo.csv");
    EXPECT_EQ(dir.Files(), before);

    // A score file that fails later leaves no model document either.
    dir.Write("bad.csv", "x1,x2,colour\n1,1,blue\n1,one,blue\n");
    run = Run("train.csv", {"--pmml", "m.pmml", "--score", "bad.csv", "--predictions", "p.csv"});
    EXPECT_EQ(run.code, kExitData);
    EXPECT_TRUE(Contains(run.err, "bad.csv:3:2:")) << run.err;
    fs::remove(dir / "bad.csv");
    EXPECT_EQ(dir.Files(), before);

    // Both outputs of a successful run.
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\n");
    run = Run("train.csv", {"--pmml", "m.pmml", "--score", "new.csv", "--predictions", "p.csv"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir / "m.pmml") && fs::exists(dir / "p.csv"));
}

TEST_F(Program, InterruptWhileScoringLeavesNoModelDocument) {
    std::string many = "x1,x2,colour\n";
    for (int i = 0; i < 400000; ++i) {
        many += std::to_string(i % 997 / 100.0) + "," + std::to_string(i % 101 / 10.1) + ",red\n";
    }
    dir.Write("many.csv", many);
    const std::vector<std::string> before = dir.Files();
    const pid_t pid = Start(dir, {"run", "--settings", "s.xml", "--data", "train.csv", "--pmml",
                                  "m.pmml", "--score", "many.csv", "--predictions", "p.csv"});
    // Standard error is not a terminal: one line per step, so "scoring" appears when it starts.
    for (int i = 0; i < 1000 && !Contains(ReadFile(dir / "stderr.txt"), "scoring"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGINT);
    const Outcome run = Finish(dir, pid);
    EXPECT_EQ(run.code, kExitInterrupted) << run.err;
    EXPECT_TRUE(Contains(run.err, "no output file was written")) << run.err;
    EXPECT_EQ(dir.Files(), before);
}

TEST_F(Program, TrainingDataFromStandardInput) {
    dir.Write("stdin.txt", kTraining);
    const Outcome run = Run("-", {"-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "records read    8")) << run.out;
    fs::remove(dir / "stdin.txt");

    dir.Write("stdin.txt", "x1,x2\n1,2\n");
    const Outcome bad = Run("-", {"-q"});
    EXPECT_EQ(bad.code, kExitData);
    EXPECT_TRUE(Contains(bad.err, "<stdin>:1: the header has no column")) << bad.err;
}

}  // namespace

#endif  // KNN_CLI_PATH
