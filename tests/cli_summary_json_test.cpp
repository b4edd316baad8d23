// The summary as JSON (knn run --summary-json): the writer's escaping and numbers, the
// document of runs with K selection and with feature selection against the printed summary,
// scoring results, and the all-or-nothing rule of outputs.

#include "CliTestSupport.h"

#ifdef KNN_CLI_PATH

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "Json.h"
#include "ModelSummary.h"

namespace knncli_test {
namespace {

// A JSON value as the tests need it, from a small strict parser.
struct Value {
    enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;

    const Value& operator[](const std::string& key) const {
        for (const auto& [name, value] : members) {
            if (name == key) {
                return value;
            }
        }
        ADD_FAILURE() << "no member " << key;
        static const Value none;
        return none;
    }
    const Value& operator[](size_t i) const { return items.at(i); }
    bool Has(const std::string& key) const {
        for (const auto& member : members) {
            if (member.first == key) {
                return true;
            }
        }
        return false;
    }
};

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}
    Value Document() {
        Value value = Parse();
        Blank();
        if (at_ != text_.size()) {
            Fail("text after the value");
        }
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) {
        throw std::runtime_error(what + " at offset " + std::to_string(at_));
    }
    void Blank() {
        while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos) {
            ++at_;
        }
    }
    bool Take(const std::string& word) {
        if (text_.compare(at_, word.size(), word) == 0) {
            at_ += word.size();
            return true;
        }
        return false;
    }
    Value Parse() {
        Blank();
        Value value;
        if (Take("null")) {
            return value;
        }
        if (Take("true") || Take("false")) {
            value.type = Value::kBool;
            value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
            return value;
        }
        if (at_ < text_.size() && text_[at_] == '"') {
            value.type = Value::kString;
            value.text = String();
            return value;
        }
        if (Take("[")) {
            value.type = Value::kArray;
            Blank();
            if (Take("]")) {
                return value;
            }
            do {
                value.items.push_back(Parse());
                Blank();
            } while (Take(","));
            if (!Take("]")) {
                Fail("expected ]");
            }
            return value;
        }
        if (Take("{")) {
            value.type = Value::kObject;
            Blank();
            if (Take("}")) {
                return value;
            }
            do {
                Blank();
                std::string key = String();
                Blank();
                if (!Take(":")) {
                    Fail("expected :");
                }
                value.members.emplace_back(std::move(key), Parse());
                Blank();
            } while (Take(","));
            if (!Take("}")) {
                Fail("expected }");
            }
            return value;
        }
        const size_t start = at_;
        while (at_ < text_.size() &&
               std::string("+-0123456789.eE").find(text_[at_]) != std::string::npos) {
            ++at_;
        }
        if (start == at_) {
            Fail("unexpected character");
        }
        value.type = Value::kNumber;
        value.number = std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
        return value;
    }
    std::string String() {
        if (!Take("\"")) {
            Fail("expected a string");
        }
        std::string out;
        while (at_ < text_.size() && text_[at_] != '"') {
            const char c = text_[at_++];
            if (static_cast<unsigned char>(c) < 0x20) {
                Fail("raw control character in a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = text_.at(at_++);
            const std::string simple = "\"\\/bfnrt";
            const std::string meant = "\"\\/\b\f\n\r\t";
            if (simple.find(e) != std::string::npos) {
                out += meant[simple.find(e)];
            } else if (e == 'u') {
                const unsigned code = std::stoul(text_.substr(at_, 4), nullptr, 16);
                at_ += 4;
                if (code >= 0x80) {
                    Fail("only ASCII escapes are expected from the writer");
                }
                out += static_cast<char>(code);
            } else {
                Fail("bad escape");
            }
        }
        if (!Take("\"")) {
            Fail("unterminated string");
        }
        return out;
    }

    const std::string& text_;
    size_t at_ = 0;
};

Value ParseJson(const std::string& text) {
    return Parser(text).Document();
}

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
    std::pair<std::string, Value> RunBoth(std::vector<std::string> args) {
        args.insert(args.end(), {"--summary-json", "summary.json", "-q"});
        const Outcome outcome = Knn(dir, args);
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        return {outcome.out, ParseJson(ReadFile(dir / "summary.json"))};
    }
};

TEST_F(SummaryJson, KSelectionEqualsThePrintedSummary) {
    const auto [printed, json] = RunBoth(
        {"run", "--settings", Example("iris/iris.xml"), "--data", Example("iris/iris.csv")});
    EXPECT_EQ(Words(LineStarting(printed, "  records read")).back(),
              std::to_string(static_cast<long>(json["recordsRead"].number)));
    EXPECT_EQ(json["validCases"].number, 150);
    EXPECT_EQ(json["casesDropped"].number, 0);
    EXPECT_EQ(json["dropped"].items.size(), 0u);
    EXPECT_EQ(json["identifier"]["source"].text, "recordNumber");
    EXPECT_EQ(json["identifier"]["field"].text, "_row");
    EXPECT_EQ(json["folds"]["source"].text, "recordNumber");
    EXPECT_EQ(json["folds"]["count"].number, 10);
    EXPECT_EQ(json["modelProblem"].type, Value::kNull);
    EXPECT_EQ(json["scoring"].type, Value::kNull);

    ASSERT_EQ(json["targets"].items.size(), 1u);
    const Value& target = json["targets"][0];
    EXPECT_EQ(target["name"].text, "species");
    EXPECT_EQ(target["kind"].text, "categorical");
    ASSERT_EQ(target["categories"].items.size(), 3u);
    EXPECT_EQ(target["categories"][2].text, "virginica");
    EXPECT_TRUE(target["described"].boolean);
    EXPECT_EQ(target["kChoice"].text, "crossValidation");
    EXPECT_EQ(target["folds"].number, 10);
    EXPECT_EQ(target["featureSelection"].type, Value::kNull);
    EXPECT_TRUE(Contains(printed, "K = " + std::to_string(static_cast<int>(target["k"].number))));

    // The table of K and error, cell by cell.
    const std::vector<std::string> ks = Words(LineStarting(printed, "    K "));
    const std::vector<std::string> errors = Words(LineStarting(printed, "    error "));
    ASSERT_EQ(ks.size(), target["kErrors"].items.size() + 1);
    ASSERT_EQ(errors.size(), ks.size());
    for (size_t i = 0; i < target["kErrors"].items.size(); ++i) {
        const Value& entry = target["kErrors"][i];
        EXPECT_EQ(ks[i + 1], std::to_string(static_cast<int>(entry["k"].number)));
        EXPECT_EQ(errors[i + 1], knncli::ErrorText(entry["error"].number, true));
    }
    EXPECT_EQ(target["largestKChosen"].boolean, Contains(printed, "K is the largest tried"));

    std::string names;
    for (const Value& feature : target["features"].items) {
        names += (names.empty() ? "" : ", ") + feature["name"].text;
        EXPECT_EQ(feature["importance"].type, Value::kNull);
        EXPECT_EQ(feature["weight"].type, Value::kNull);
    }
    EXPECT_EQ(LineStarting(printed, "  features: "), "  features: " + names);
    // The document's error of the training cases: a fraction between 0 and 1.
    EXPECT_EQ(target["trainingError"]["measure"].text, "percentIncorrectlyClassifiedCases");
    EXPECT_GE(target["trainingError"]["value"].number, 0.0);
    EXPECT_LT(target["trainingError"]["value"].number, 0.2);
    EXPECT_EQ(json["warnings"].items.size(), 0u);
}

TEST_F(SummaryJson, FeatureSelectionEqualsThePrintedSummary) {
    const auto [printed, json] = RunBoth(
        {"run", "--settings", Example("wine/wine.xml"), "--data", Example("wine/wine.csv")});
    const Value& target = json["targets"][0];
    EXPECT_EQ(target["kChoice"].text, "jointWithFeatures");
    EXPECT_EQ(target["folds"].type, Value::kNull);
    EXPECT_EQ(json["folds"]["source"].text, "none");
    const int k = static_cast<int>(target["k"].number);

    // The error of each K's final features, as printed.
    const std::vector<std::string> errors = Words(LineStarting(printed, "    error "));
    ASSERT_EQ(errors.size(), target["kErrors"].items.size() + 1);
    for (size_t i = 0; i < target["kErrors"].items.size(); ++i) {
        EXPECT_EQ(errors[i + 1], knncli::ErrorText(target["kErrors"][i]["error"].number, true));
    }

    // The steps of the chosen K, as printed, and the same as that K's run.
    const Value& selection = target["featureSelection"];
    const Value* run = nullptr;
    for (const Value& entry : selection["runs"].items) {
        if (entry["k"].number == k) {
            run = &entry;
        }
        // Each run's last step has the error given for its K.
        bool found = false;
        for (const Value& kError : target["kErrors"].items) {
            if (kError["k"].number == entry["k"].number) {
                EXPECT_EQ(kError["error"].number, entry["steps"].items.back()["error"].number);
                found = true;
            }
        }
        EXPECT_TRUE(found);
    }
    ASSERT_NE(run, nullptr);
    ASSERT_EQ(selection["steps"].items.size(), (*run)["steps"].items.size());
    for (size_t i = 0; i < selection["steps"].items.size(); ++i) {
        const Value& step = selection["steps"][i];
        EXPECT_EQ(step["error"].number, (*run)["steps"][i]["error"].number);
        const std::vector<std::string> words =
            Words(LineStarting(printed, "    " + std::to_string(i + 1) + ".  "));
        ASSERT_EQ(words.size(), 3u);
        EXPECT_EQ(words[1], step["features"][0].text);
        EXPECT_EQ(words[2], knncli::ErrorText(step["error"].number, true));
        EXPECT_FALSE(step["forced"].boolean);
    }

    // Importance and weight of every feature, as printed with four decimals.
    ASSERT_EQ(target["features"].items.size(), selection["steps"].items.size());
    for (const Value& feature : target["features"].items) {
        EXPECT_EQ(feature["importance"].number, feature["weight"].number);
        char share[32];
        std::snprintf(share, sizeof share, "%.4f", feature["importance"].number);
        const std::vector<std::string> words =
            Words(LineStarting(printed, "    " + feature["name"].text + " "));
        ASSERT_EQ(words.size(), 2u) << feature["name"].text;
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
    const Value json = ParseJson(outcome.out);  // the printed summary went to standard error
    EXPECT_TRUE(Contains(outcome.err, "records read    9"));
    EXPECT_EQ(json["recordsRead"].number, 9);
    EXPECT_EQ(json["validCases"].number, 8);
    ASSERT_EQ(json["dropped"].items.size(), 1u);
    const Value& dropped = json["dropped"][0];
    EXPECT_EQ(dropped["kind"].text, "unknownCategory");
    EXPECT_EQ(dropped["field"].text, "colour");
    EXPECT_EQ(dropped["count"].number, 1);
    EXPECT_TRUE(Contains(outcome.err, dropped["reason"].text));
    ASSERT_EQ(dropped["examples"].items.size(), 1u);
    EXPECT_EQ(dropped["examples"][0].text, "r\"\xC3\xA9\td");
    EXPECT_TRUE(Contains(outcome.out, R"("r\"é\td")"));

    const Value& target = json["targets"][0];
    EXPECT_EQ(target["kChoice"].text, "fixed");
    EXPECT_EQ(target["k"].number, 3);
    EXPECT_EQ(target["kErrors"].items.size(), 0u);

    const Value& scoring = json["scoring"];
    EXPECT_EQ(scoring["records"].number, 4);
    EXPECT_EQ(scoring["scored"].number, 3);
    EXPECT_EQ(scoring["notScored"].number, 1);
    ASSERT_EQ(scoring["notScoredReasons"].items.size(), 1u);
    EXPECT_EQ(scoring["notScoredReasons"][0]["reason"].text, "missing value in field \"x1\"");
    ASSERT_EQ(scoring["evaluation"].items.size(), 1u);
    const Value& evaluation = scoring["evaluation"][0];
    EXPECT_EQ(evaluation["target"].text, "class");
    EXPECT_EQ(evaluation["records"].number, 3);
    EXPECT_EQ(evaluation["misclassified"].number, 1);
    EXPECT_EQ(evaluation["misclassifiedFraction"].number, 1.0 / 3.0);
    // Observed a: predicted a once, b once; observed b: predicted b.
    EXPECT_EQ(evaluation["counts"][0][0].number, 1);
    EXPECT_EQ(evaluation["counts"][0][1].number, 1);
    EXPECT_EQ(evaluation["counts"][1][1].number, 1);
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
