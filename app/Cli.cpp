#include "Cli.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "Component.h"
#include "Csv.h"
#include "Errors.h"
#include "HelpTexts.h"
#include "Init.h"
#include "Interrupt.h"
#include "Output.h"
#include "Run.h"
#include "Score.h"

#ifndef KNN_EXAMPLES_DIR
#define KNN_EXAMPLES_DIR ""
#endif

namespace knncli {

namespace {

struct OptionDef {
    std::string name;
    bool takesValue;
    bool required;
};

using OptionValues = std::map<std::string, std::vector<std::string>>;

[[noreturn]] void UsageError(const std::string& command, const std::string& message) {
    const std::string help = command.empty() ? "knn --help" : "knn help " + command;
    throw CliError(kExitUsage, message + " (see " + help + ")");
}

// Parses "--name value", "--name=value" and flags. "-h"/"--help" are handled by the caller.
OptionValues ParseOptions(const std::string& command, const std::vector<std::string>& args,
                          const std::vector<OptionDef>& known) {
    OptionValues values;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name == "-q") {
            name = "--quiet";
        }
        if (name.rfind("--", 0) != 0) {
            UsageError(command, "unexpected argument \"" + name + "\"");
        }
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        const auto option = std::find_if(known.begin(), known.end(), [&name](const OptionDef& s) {
            return "--" + s.name == name;
        });
        if (option == known.end()) {
            UsageError(command, "unknown option " + name + " for knn " + command);
        }
        if (!option->takesValue) {
            if (inlineValue) {
                UsageError(command, name + " takes no value");
            }
            values[option->name].push_back("true");
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                UsageError(command, name + " needs a value");
            }
            inlineValue = args[++i];
        }
        if (inlineValue->empty()) {
            UsageError(command, name + " needs a value");
        }
        values[option->name].push_back(*inlineValue);
    }
    for (const OptionDef& option : known) {
        if (option.required && values.count(option.name) == 0) {
            UsageError(command, "--" + option.name + " is required");
        }
    }
    return values;
}

// The single value of an option; a repeated single-valued option is an error.
std::string Single(const std::string& command, const OptionValues& values,
                   const std::string& name) {
    const auto it = values.find(name);
    if (it == values.end()) {
        return {};
    }
    if (it->second.size() > 1) {
        UsageError(command, "--" + name + " is given more than once");
    }
    return it->second.front();
}

std::vector<std::string> All(const OptionValues& values, const std::string& name) {
    const auto it = values.find(name);
    return it == values.end() ? std::vector<std::string>{} : it->second;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty() || a == "-" || b == "-") {
        return false;
    }
    // Absolute first: the canonical form of a relative path to a file that does not exist yet
    // would stay relative ("x"), and not match the same file written as "./x".
    std::error_code error;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(a, error), error) ==
           std::filesystem::weakly_canonical(std::filesystem::absolute(b, error), error);
}

// The value of a whole-number option of knn init, at least `least`; 0 when it is not given.
int WholeNumber(const OptionValues& values, const std::string& name, int least,
                const std::string& what) {
    const std::string text = Single("init", values, name);
    if (text.empty()) {
        return 0;
    }
    const std::optional<double> number = ParseNumber(text);
    if (!number || *number < least || *number > 1e6 || *number != static_cast<int>(*number)) {
        UsageError("init", "--" + name + " needs a whole number of " + what + ", at least " +
                               std::to_string(least) + ", not " + text);
    }
    return static_cast<int>(*number);
}

int Init(const std::vector<std::string>& args, std::ostream& err) {
    const OptionValues values = ParseOptions(
        "init", args,
        {{"data", true, true},         {"target", true, true},       {"id", true, false},
         {"focal", true, false},       {"predictors", true, false},  {"exclude", true, false},
         {"categorical", true, false}, {"k", true, false},           {"min-k", true, false},
         {"max-k", true, false},       {"folds", true, false},       {"fold", true, false},
         {"select", true, false},      {"select-stop", true, false}, {"forced", true, false},
         {"weight", false, false},     {"metric", true, false},      {"no-rescale", false, false},
         {"median", false, false},     {"out", true, false},         {"quiet", false, false}});
    InitOptions options;
    options.data = Single("init", values, "data");
    options.targets = All(values, "target");
    options.id = Single("init", values, "id");
    options.focal = Single("init", values, "focal");
    options.fold = Single("init", values, "fold");
    options.predictors = All(values, "predictors");
    options.exclude = All(values, "exclude");
    options.categorical = All(values, "categorical");
    options.forced = All(values, "forced");
    options.tempDir = SystemTemporaryDirectory();
    options.k = WholeNumber(values, "k", 1, "neighbours");
    options.minK = WholeNumber(values, "min-k", 1, "neighbours");
    options.maxK = WholeNumber(values, "max-k", 1, "neighbours");
    options.folds = WholeNumber(values, "folds", 2, "folds");
    if (Single("init", values, "select") == "auto") {
        options.selectAuto = true;
    } else {
        options.selectCount = WholeNumber(values, "select", 1, "features (or auto)");
    }
    const std::string stop = Single("init", values, "select-stop");
    if (!stop.empty()) {
        options.selectStop = ParseNumber(stop);
        if (!options.selectStop || *options.selectStop < 0 || *options.selectStop > 1) {
            UsageError("init", "--select-stop needs a number from 0 to 1, not " + stop);
        }
    }
    const std::string metric = Single("init", values, "metric");
    if (!metric.empty() && metric != "euclidean" && metric != "cityblock") {
        UsageError("init", "--metric is euclidean or cityblock, not " + metric);
    }
    options.cityBlock = metric == "cityblock";
    options.weight = values.count("weight") > 0;
    options.rescale = values.count("no-rescale") == 0;
    options.median = values.count("median") > 0;
    std::string out = Single("init", values, "out");
    if (out.empty()) {
        out = "-";
    }
    if (SameFile(out, options.data)) {
        UsageError("init", "--out would overwrite the data file " + options.data);
    }

    OutputFile file(out);
    const InferredSettings inferred = InferSettings(options, InterruptRequested);
    if (InterruptRequested()) {
        throw CliError(kExitInterrupted, "interrupted; no output file was written");
    }
    file.Stream() << inferred.document;
    file.Commit();
    const bool quiet = values.count("quiet") > 0;
    if (!quiet) {
        for (const std::string& note : inferred.notes) {
            err << "knn: note: " << note << '\n';
        }
        if (!file.IsStandardOutput()) {
            err << "knn: settings written to " << out << '\n';
        }
    }
    return kExitOk;
}

RunOptions ReadRunOptions(const OptionValues& values) {
    RunOptions options;
    options.settings = Single("run", values, "settings");
    options.data = Single("run", values, "data");
    options.pmml = Single("run", values, "pmml");
    options.compact = values.count("compact") > 0;
    if (options.compact && options.pmml.empty()) {
        UsageError("run", "--compact needs --pmml");
    }
    options.score = Single("run", values, "score");
    options.predictions = Single("run", values, "predictions");
    options.summaryJson = Single("run", values, "summary-json");
    options.importances = Single("run", values, "importances");
    options.library = Single("run", values, "library");
    options.quiet = values.count("quiet") > 0;
    const std::string threads = Single("run", values, "threads");
    if (!threads.empty()) {
        const std::optional<double> number = ParseNumber(threads);
        if (!number || *number < 0 || *number > 1024 || *number != static_cast<int>(*number)) {
            UsageError("run", "--threads needs a whole number from 0 to 1024, not " + threads);
        }
        options.threads = static_cast<int>(*number);
    }
    if (options.score.empty() != options.predictions.empty()) {
        UsageError("run", options.score.empty() ? "--predictions needs --score"
                                                : "--score needs --predictions");
    }
    // Each output needs a file (or standard output) of its own, and none may replace an input.
    const std::vector<std::pair<std::string, std::string>> outputs{
        {"--pmml", options.pmml},
        {"--predictions", options.predictions},
        {"--summary-json", options.summaryJson}};
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (outputs[i].second == "-" && outputs[j].second == "-") {
                UsageError("run", outputs[i].first + " and " + outputs[j].first +
                                      " cannot both write to standard output");
            }
            if (SameFile(outputs[i].second, outputs[j].second)) {
                UsageError("run",
                           outputs[i].first + " and " + outputs[j].first + " name the same file");
            }
        }
    }
    for (const auto& [option, output] : outputs) {
        for (const std::string& input : {options.settings, options.data, options.score}) {
            if (SameFile(output, input)) {
                UsageError("run", "the output " + output + " would overwrite the input " + input);
            }
        }
    }
    return options;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
    const RunOptions options = ReadRunOptions(ParseOptions("run", args,
                                                           {{"settings", true, true},
                                                            {"data", true, true},
                                                            {"pmml", true, false},
                                                            {"compact", false, false},
                                                            {"score", true, false},
                                                            {"predictions", true, false},
                                                            {"summary-json", true, false},
                                                            {"importances", true, false},
                                                            {"library", true, false},
                                                            {"threads", true, false},
                                                            {"quiet", false, false}}));
    const bool toStandardOutput =
        options.predictions == "-" || options.pmml == "-" || options.summaryJson == "-";
    RunModel(options, toStandardOutput ? err : out, err, terminal);
    return kExitOk;
}

int Score(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
          bool terminal) {
    const OptionValues values = ParseOptions("score", args,
                                             {{"model", true, true},
                                              {"data", true, true},
                                              {"predictions", true, true},
                                              {"library", true, false},
                                              {"quiet", false, false}});
    ModelScoringOptions options;
    options.model = Single("score", values, "model");
    options.data = Single("score", values, "data");
    options.predictions = Single("score", values, "predictions");
    options.library = Single("score", values, "library");
    options.quiet = values.count("quiet") > 0;
    if (options.model == "-") {
        UsageError("score",
                   "--model needs a file: the document is read twice, which standard "
                   "input cannot be");
    }
    for (const std::string& input : {options.model, options.data}) {
        if (SameFile(options.predictions, input)) {
            UsageError("score",
                       "the output " + options.predictions + " would overwrite the input " + input);
        }
    }
    ScoreWithModel(options, options.predictions == "-" ? err : out, err, terminal);
    return kExitOk;
}

int Demo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         bool terminal) {
    const OptionValues values =
        ParseOptions("demo", args, {{"library", true, false}, {"quiet", false, false}});
    std::string examples;
    for (const std::string& location : ExampleLocations()) {
        if (std::filesystem::exists(location + "/iris/iris.xml")) {
            examples = location;
            break;
        }
    }
    if (examples.empty()) {
        throw CliError(kExitData, "cannot find the bundled examples (looked in " +
                                      ExampleLocations().front() + ")");
    }
    RunOptions options;
    options.settings = examples + "/iris/iris.xml";
    options.data = examples + "/iris/iris.csv";
    options.score = examples + "/iris/NEW.csv";
    options.predictions = "-";
    options.digits = 4;
    options.heading = "\nPredictions for the new flowers in " + options.score +
                      " (record, predicted species, probabilities, nearest training records):";
    options.library = Single("demo", values, "library");
    options.quiet = values.count("quiet") > 0;

    out << "knn demo: a nearest-neighbour model of iris species, used to classify new flowers\n\n";
    out.flush();
    RunModel(options, out, err, terminal);
    out << "\nThe same by hand:\n  knn run --settings " << options.settings << " \\\n"
        << "          --data " << options.data << " \\\n"
        << "          --score " << options.score << " --predictions predictions.csv\n";
    return kExitOk;
}

const char* HelpFor(const std::string& command) {
    if (command == "init")
        return kInitHelp;
    if (command == "run")
        return kRunHelp;
    if (command == "score")
        return kScoreHelp;
    if (command == "demo")
        return kDemoHelp;
    return nullptr;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "-h" || a == "--help"; });
}

}  // namespace

std::vector<std::string> ExampleLocations() {
    std::vector<std::string> locations{
        (std::filesystem::path(ProgramDirectory()).parent_path() / "share" / "knn" / "examples")
            .string()};
    if (std::string(KNN_EXAMPLES_DIR).size() > 0) {
        locations.emplace_back(KNN_EXAMPLES_DIR);
    }
    return locations;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool errIsTerminal) {
    try {
        if (args.empty()) {
            err << kMainHelp;
            return kExitUsage;
        }
        const std::string& command = args.front();
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (command == "-h" || command == "--help") {
            out << kMainHelp;
            return kExitOk;
        }
        if (command == "--version") {
            out << kVersion << '\n';
            return kExitOk;
        }
        if (command == "help") {
            if (rest.empty()) {
                out << kMainHelp;
                return kExitOk;
            }
            const char* help = HelpFor(rest.front());
            if (help == nullptr) {
                UsageError("", "unknown command \"" + rest.front() + "\"");
            }
            out << help;
            return kExitOk;
        }
        const char* help = HelpFor(command);
        if (help == nullptr) {
            UsageError("", "unknown command \"" + command + "\"");
        }
        if (WantsHelp(rest)) {
            out << help;
            return kExitOk;
        }
        if (command == "init") {
            return Init(rest, err);
        }
        if (command == "run") {
            return Run(rest, out, err, errIsTerminal);
        }
        if (command == "score") {
            return Score(rest, out, err, errIsTerminal);
        }
        return Demo(rest, out, err, errIsTerminal);
    } catch (const CliError& e) {
        err << "knn: " << (e.Code() == kExitInterrupted ? "" : "error: ") << e.what() << '\n';
        return e.Code();
    } catch (const CsvError& e) {
        err << "knn: error: " << e.what() << '\n';
        return kExitData;
    } catch (const std::bad_alloc&) {
        err << "knn: error: out of memory\n";
        return kExitInternal;
    } catch (const std::exception& e) {
        err << "knn: internal error: " << e.what() << '\n';
        return kExitInternal;
    }
}

}  // namespace knncli
