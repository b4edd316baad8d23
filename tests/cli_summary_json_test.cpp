// The summary as JSON (knn run --summary-json): the writer's escaping and numbers, the
// document of runs with K selection and with feature selection against the printed summary,
// scoring results, and the all-or-nothing rule of outputs.

#include "CliTestSupport.h"

#ifdef KNN_CLI_PATH

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "Json.h"
#include "ModelSummary.h"

namespace knncli_test {
namespace {

using Json = nlohmann::json;

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The line of `text` that starts with `prefix`, or empty.
std::string LineStarting(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            return line;
        }
    }
    return "";
}

std::string Example(const std::string& name) {
    return std::string(KNN_SOURCE_DIR) + "/examples/" + name;
}

TEST(JsonWriter, EscapesControlCharactersQuotesAndBadBytesAndKeepsUtf8) {
    using knncli::JsonString;
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString("\n\r\t\b\f"), R"("\n\r\t\b\f")");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\0x", 4)), R"("\u0001\u001f\u0000x")");
    EXPECT_EQ(JsonString("\x7f/"), "\"\x7f/\"");
    // Valid UTF-8 of two, three and four bytes passes as it is.
    EXPECT_EQ(JsonString("gr\xC3\xBCn \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "\"gr\xC3\xBCn \xE2\x82\xAC \xF0\x9F\x98\x80\"");
    // A lone continuation byte, a cut sequence, an overlong form and a surrogate do not.
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(JsonString("a\x80z"), "\"a" + bad + "z\"");
    EXPECT_EQ(JsonString("\xE2\x82"), "\"" + bad + bad + "\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"" + bad + bad + "\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"" + bad + bad + bad + "\"");
}

TEST(JsonWriter, WritesDoublesThatReadBackExactlyAndNonFiniteAsNull) {
    using knncli::JsonNumber;
    for (const double value : {0.1, 1.0 / 3.0, 0.0056179775280899, 1e-300, 5e-324,
                               1.7976931348623157e308, -2.5, 123456789012345678.0}) {
        const std::string text = JsonNumber(value);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    }
    EXPECT_EQ(JsonNumber(0.1), "0.1");
    EXPECT_EQ(JsonNumber(3.0), "3");
    EXPECT_EQ(JsonNumber(NAN), "null");
    EXPECT_EQ(JsonNumber(INFINITY), "null");
    EXPECT_EQ(JsonNumber(-INFINITY), "null");
}

class SummaryJson : public Program {
protected:
    // Runs `args` with --summary-json, checks success, and returns the printed summary and the
    // parsed document.
    std::pair<std::string, Json> RunBoth(std::vector<std::string> args) {
        args.insert(args.end(), {"--summary-json", "summary.json", "-q"});
        const Outcome outcome = Knn(dir, args);
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        return {outcome.out, Json::parse(ReadFile(dir / "summary.json"))};
    }
};

TEST_F(SummaryJson, KSelectionEqualsThePrintedSummary) {
    const auto [printed, json] = RunBoth(
        {"run", "--settings", Example("iris/iris.xml"), "--data", Example("iris/iris.csv")});
    EXPECT_EQ(Words(LineStarting(printed, "  records read")).back(),
              std::to_string(static_cast<long>(json["recordsRead"].get<double>())));
    EXPECT_EQ(json["validCases"].get<double>(), 150);
    EXPECT_EQ(json["casesDropped"].get<double>(), 0);
    EXPECT_EQ(json["dropped"].size(), 0u);
    EXPECT_EQ(json["identifier"]["source"].get<std::string>(), "recordNumber");
    EXPECT_EQ(json["identifier"]["field"].get<std::string>(), "_row");
    EXPECT_EQ(json["folds"]["source"].get<std::string>(), "recordNumber");
    EXPECT_EQ(json["folds"]["count"].get<double>(), 10);
    EXPECT_TRUE(json["modelProblem"].is_null());
    EXPECT_TRUE(json["scoring"].is_null());

    ASSERT_EQ(json["targets"].size(), 1u);
    const Json& target = json["targets"][0];
    EXPECT_EQ(target["name"].get<std::string>(), "species");
    EXPECT_EQ(target["kind"].get<std::string>(), "categorical");
    ASSERT_EQ(target["categories"].size(), 3u);
    EXPECT_EQ(target["categories"][2].get<std::string>(), "virginica");
    EXPECT_TRUE(target["described"].get<bool>());
    EXPECT_EQ(target["kChoice"].get<std::string>(), "crossValidation");
    EXPECT_EQ(target["folds"].get<double>(), 10);
    EXPECT_TRUE(target["featureSelection"].is_null());
    EXPECT_TRUE(
        Contains(printed, "K = " + std::to_string(static_cast<int>(target["k"].get<double>()))));

    // The table of K and error, cell by cell.
    const std::vector<std::string> ks = Words(LineStarting(printed, "    K "));
    const std::vector<std::string> errors = Words(LineStarting(printed, "    error "));
    ASSERT_EQ(ks.size(), target["kErrors"].size() + 1);
    ASSERT_EQ(errors.size(), ks.size());
    for (size_t i = 0; i < target["kErrors"].size(); ++i) {
        const Json& entry = target["kErrors"][i];
        EXPECT_EQ(ks[i + 1], std::to_string(static_cast<int>(entry["k"].get<double>())));
        EXPECT_EQ(errors[i + 1], knncli::ErrorText(entry["error"].get<double>(), true));
    }
    EXPECT_EQ(target["largestKChosen"].get<bool>(), Contains(printed, "K is the largest tried"));

    std::string names;
    for (const Json& feature : target["features"]) {
        names += (names.empty() ? "" : ", ") + feature["name"].get<std::string>();
        EXPECT_TRUE(feature["importance"].is_null());
        EXPECT_TRUE(feature["weight"].is_null());
    }
    EXPECT_EQ(LineStarting(printed, "  features: "), "  features: " + names);
    // The document's error of the training cases: a fraction between 0 and 1.
    EXPECT_EQ(target["trainingError"]["measure"].get<std::string>(),
              "percentIncorrectlyClassifiedCases");
    EXPECT_GE(target["trainingError"]["value"].get<double>(), 0.0);
    EXPECT_LT(target["trainingError"]["value"].get<double>(), 0.2);
    EXPECT_EQ(json["warnings"].size(), 0u);
}

TEST_F(SummaryJson, FeatureSelectionEqualsThePrintedSummary) {
    const auto [printed, json] = RunBoth(
        {"run", "--settings", Example("wine/wine.xml"), "--data", Example("wine/wine.csv")});
    const Json& target = json["targets"][0];
    EXPECT_EQ(target["kChoice"].get<std::string>(), "jointWithFeatures");
    EXPECT_TRUE(target["folds"].is_null());
    EXPECT_EQ(json["folds"]["source"].get<std::string>(), "none");
    const int k = static_cast<int>(target["k"].get<double>());

    // The error of each K's final features, as printed.
    const std::vector<std::string> errors = Words(LineStarting(printed, "    error "));
    ASSERT_EQ(errors.size(), target["kErrors"].size() + 1);
    for (size_t i = 0; i < target["kErrors"].size(); ++i) {
        EXPECT_EQ(errors[i + 1],
                  knncli::ErrorText(target["kErrors"][i]["error"].get<double>(), true));
    }

    // The steps of the chosen K, as printed, and the same as that K's run.
    const Json& selection = target["featureSelection"];
    const Json* run = nullptr;
    for (const Json& entry : selection["runs"]) {
        if (entry["k"].get<double>() == k) {
            run = &entry;
        }
        // Each run's last step has the error given for its K.
        bool found = false;
        for (const Json& kError : target["kErrors"]) {
            if (kError["k"].get<double>() == entry["k"].get<double>()) {
                EXPECT_EQ(kError["error"].get<double>(),
                          entry["steps"].back()["error"].get<double>());
                found = true;
            }
        }
        EXPECT_TRUE(found);
    }
    ASSERT_NE(run, nullptr);
    ASSERT_EQ(selection["steps"].size(), (*run)["steps"].size());
    for (size_t i = 0; i < selection["steps"].size(); ++i) {
        const Json& step = selection["steps"][i];
        EXPECT_EQ(step["error"].get<double>(), (*run)["steps"][i]["error"].get<double>());
        const std::vector<std::string> words =
            Words(LineStarting(printed, "    " + std::to_string(i + 1) + ".  "));
        ASSERT_EQ(words.size(), 3u);
        EXPECT_EQ(words[1], step["features"][0].get<std::string>());
        EXPECT_EQ(words[2], knncli::ErrorText(step["error"].get<double>(), true));
        EXPECT_FALSE(step["forced"].get<bool>());
    }

    // Importance and weight of every feature, as printed with four decimals.
    ASSERT_EQ(target["features"].size(), selection["steps"].size());
    for (const Json& feature : target["features"]) {
        EXPECT_EQ(feature["importance"].get<double>(), feature["weight"].get<double>());
        char share[32];
        std::snprintf(share, sizeof share, "%.4f", feature["importance"].get<double>());
        const std::vector<std::string> words =
            Words(LineStarting(printed, "    " + feature["name"].get<std::string>() + " "));
        ASSERT_EQ(words.size(), 2u) << feature["name"].get<std::string>();
        EXPECT_EQ(words[1], share);
    }
}

TEST_F(SummaryJson, ScoringResultsAndDroppedCasesWithTextsThatNeedEscaping) {
    // A record with an unknown colour (quote, tab and non-ASCII text) is dropped; the file to
    // score has the target, one record cannot be scored.
    dir.Write("train2.csv", std::string(kTraining) + "a,1,1,\"r\"\"\xC3\xA9\td\",1,z\n");
    dir.Write("new.csv", "x1,x2,colour,class\n1,1,blue,a\n9,9,red,b\n8,8,red,a\n,5,blue,a\n");
    const Outcome outcome = Run("train2.csv", {"--score", "new.csv", "--predictions", "p.csv",
                                               "--summary-json", "-", "-q"});
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    const Json json = Json::parse(outcome.out);  // the printed summary went to standard error
    EXPECT_TRUE(Contains(outcome.err, "records read    9"));
    EXPECT_EQ(json["recordsRead"].get<double>(), 9);
    EXPECT_EQ(json["validCases"].get<double>(), 8);
    ASSERT_EQ(json["dropped"].size(), 1u);
    const Json& dropped = json["dropped"][0];
    EXPECT_EQ(dropped["kind"].get<std::string>(), "unknownCategory");
    EXPECT_EQ(dropped["field"].get<std::string>(), "colour");
    EXPECT_EQ(dropped["count"].get<double>(), 1);
    EXPECT_TRUE(Contains(outcome.err, dropped["reason"].get<std::string>()));
    ASSERT_EQ(dropped["examples"].size(), 1u);
    EXPECT_EQ(dropped["examples"][0].get<std::string>(), "r\"\xC3\xA9\td");
    EXPECT_TRUE(Contains(outcome.out, R"("r\"é\td")"));

    const Json& target = json["targets"][0];
    EXPECT_EQ(target["kChoice"].get<std::string>(), "fixed");
    EXPECT_EQ(target["k"].get<double>(), 3);
    EXPECT_EQ(target["kErrors"].size(), 0u);

    const Json& scoring = json["scoring"];
    EXPECT_EQ(scoring["records"].get<double>(), 4);
    EXPECT_EQ(scoring["scored"].get<double>(), 3);
    EXPECT_EQ(scoring["notScored"].get<double>(), 1);
    ASSERT_EQ(scoring["notScoredReasons"].size(), 1u);
    EXPECT_EQ(scoring["notScoredReasons"][0]["reason"].get<std::string>(),
              "missing value in field \"x1\"");
    ASSERT_EQ(scoring["evaluation"].size(), 1u);
    const Json& evaluation = scoring["evaluation"][0];
    EXPECT_EQ(evaluation["target"].get<std::string>(), "class");
    EXPECT_EQ(evaluation["records"].get<double>(), 3);
    EXPECT_EQ(evaluation["misclassified"].get<double>(), 1);
    EXPECT_EQ(evaluation["misclassifiedFraction"].get<double>(), 1.0 / 3.0);
    // Observed a: predicted a once, b once; observed b: predicted b.
    EXPECT_EQ(evaluation["counts"][0][0].get<double>(), 1);
    EXPECT_EQ(evaluation["counts"][0][1].get<double>(), 1);
    EXPECT_EQ(evaluation["counts"][1][1].get<double>(), 1);
    EXPECT_TRUE(Contains(outcome.err, "misclassified 1 of 3"));
}

TEST_F(SummaryJson, NothingIsWrittenWhenTheRunFails) {
    dir.Write("summary.json", "old");
    dir.Write("bad.csv", std::string(kTraining) + "a,x,1,blue,1,z\n");
    Outcome outcome = Run("bad.csv", {"--summary-json", "summary.json", "-q"});
    EXPECT_EQ(outcome.code, 3) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "summary.json"), "old");
    // Reading the file to score fails after the summary was printed: still no JSON.
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\nabc,1,blue\n");
    outcome = Run("train.csv", {"--summary-json", "fresh.json", "--score", "new.csv",
                                "--predictions", "p.csv", "-q"});
    EXPECT_EQ(outcome.code, 3) << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "fresh.json"));
    EXPECT_FALSE(fs::exists(dir / "p.csv"));
    for (const std::string& name : dir.Files()) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

TEST_F(SummaryJson, RefusesToShareAFileOrStandardOutputWithAnotherOutput) {
    for (const std::vector<std::string>& more :
         {std::vector<std::string>{"--summary-json", "train.csv"},
          {"--summary-json", "s.xml"},
          {"--summary-json", "out", "--pmml", "./out"},
          {"--summary-json", "-", "--pmml", "-"},
          {"--summary-json", "p.csv", "--score", "train.csv", "--predictions", "p.csv"},
          {"--summary-json", "-", "--score", "train.csv", "--predictions", "-"}}) {
        const Outcome outcome = Run("train.csv", more);
        EXPECT_EQ(outcome.code, 2) << more[1] << ": " << outcome.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
}

}  // namespace
}  // namespace knncli_test

#endif  // KNN_CLI_PATH
