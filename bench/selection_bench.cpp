// Times the component's model selection on generated data and writes the same data as CSV, so
// that bench/selection_peer.py can time the equivalent scikit-learn runs on identical numbers.
//
//   selection_bench --data DIR [--quick] [--repeat R] [--only kselect|fselect] [--threads T]
//
// Workloads (--quick divides N by 10):
//   kselect  N = 100 000 cases, 8 continuous predictors, K chosen from 1 ... 30 by 10-fold
//            cross-validation over a fold field (fold = case number mod 10), once with a
//            3-category target and once with a continuous target.
//   fselect  N = 5 000 cases, 16 continuous predictors, forward selection of 5 features with
//            K = 5 and the training error without the case itself, same two kinds of target.
//
// Every run goes through the settings document, the data preparation pass and the model driver
// (the path of the algorithm's Build). Each predictor's declared range is its data minimum and
// maximum, so the component rescales it to exactly -1 ... 1; the peer applies the same formula.
// Times are wall-clock seconds, the best of R repeats (default 3). The selection stage alone is
// timed from the start of the model build to the end of the selection stage as reported to a
// progress sink. With --threads, the settings carry Threads = T (the results are the same).
//
// Writes DIR/kselect.csv, DIR/fselect.csv and DIR/ours.json (times, chosen K and its error
// curve, selected features and their error history).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "ProgressReport.h"
#include "Record.h"
#include "knn/api/KNNModel.h"
#include "knn/base/RunContext.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNFeatureSelection.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/settings/SettingsReader.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPi = std::numbers::pi;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Deterministic numbers that do not depend on the standard library's distributions.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next() {  // splitmix64
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Normal() {  // Box-Muller
        const double u = 1.0 - Uniform();
        const double v = Uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * v);
    }

private:
    uint64_t state;
};

// One generated data set: named columns, one row per case, and the columns' roles.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<double>> rows;
    int predictors = 0;    // x1 ... xd follow the case identifier
    int classCount = 3;    // categories of "cls"
    bool hasFold = false;  // a "fold" column with categories 0 ... folds - 1
    int folds = 0;
    std::vector<double> low;   // per predictor: data minimum
    std::vector<double> high;  // per predictor: data maximum

    int Column(const std::string& name) const {
        return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
    }
};

// Class 0 for the lowest half of `score`, 1 for the next 30 %, 2 for the top 20 %, so the
// class frequencies fall with the class index. Then a vote tie goes to the same class under
// both tie rules in play: "the more frequent class" here and "the smallest label" in the peer.
void ClassesFromScore(const std::vector<double>& score, Table& t, int column) {
    std::vector<double> sorted = score;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double first = sorted[n / 2];
    const double second = sorted[n * 8 / 10];
    for (size_t i = 0; i < n; ++i) {
        t.rows[i][static_cast<size_t>(column)] = score[i] < first ? 0 : (score[i] < second ? 1 : 2);
    }
}

// Columns: id, x1 ... xd, cls, y, [fold,] focal. Predictor j is uniform on its own interval so
// that the rescaling matters.
Table NewTable(int n, int d, bool fold, int folds) {
    Table t;
    t.names.push_back("id");
    for (int j = 1; j <= d; ++j) {
        std::string name = "x";  // built in place: GCC 12 at -O3 warns falsely on "x" + string
        name += std::to_string(j);
        t.names.push_back(name);
    }
    t.names.insert(t.names.end(), {"cls", "y"});
    if (fold) {
        t.names.push_back("fold");
    }
    t.names.push_back("focal");
    t.predictors = d;
    t.hasFold = fold;
    t.folds = folds;
    t.rows.assign(static_cast<size_t>(n), std::vector<double>(t.names.size(), 0.0));
    return t;
}

// Draws u ~ U(0, 1) per predictor, stores x = a + (b - a) u, and returns the u values.
std::vector<std::vector<double>> FillPredictors(Table& t, Random& random) {
    const size_t d = static_cast<size_t>(t.predictors);
    std::vector<std::vector<double>> u(t.rows.size(), std::vector<double>(d));
    for (size_t i = 0; i < t.rows.size(); ++i) {
        t.rows[i][0] = static_cast<double>(i + 1);
        for (size_t j = 0; j < d; ++j) {
            const double a = -2.5 * static_cast<double>(j);
            const double b = 1.0 + 3.0 * static_cast<double>(j);
            u[i][j] = random.Uniform();
            t.rows[i][j + 1] = a + (b - a) * u[i][j];
        }
    }
    t.low.assign(d, HUGE_VAL);
    t.high.assign(d, -HUGE_VAL);
    for (const std::vector<double>& row : t.rows) {
        for (size_t j = 0; j < d; ++j) {
            t.low[j] = std::min(t.low[j], row[j + 1]);
            t.high[j] = std::max(t.high[j], row[j + 1]);
        }
    }
    return u;
}

// K selection data: both targets depend on the first five of eight predictors, with noise.
Table KSelectionData(int n) {
    const int folds = 10;
    Table t = NewTable(n, 8, true, folds);
    Random random(20240611);
    const std::vector<std::vector<double>> u = FillPredictors(t, random);
    std::vector<double> score(static_cast<size_t>(n));
    const int cls = t.Column("cls");
    const int y = t.Column("y");
    const int fold = t.Column("fold");
    for (size_t i = 0; i < u.size(); ++i) {
        const std::vector<double>& v = u[i];
        score[i] = std::sin(4.0 * kPi * v[0]) * std::cos(2.0 * kPi * v[1]) + 0.8 * v[2] * v[3] -
                   0.5 * v[4] + 0.2 * random.Normal();
        t.rows[i][static_cast<size_t>(y)] = 10.0 * std::sin(4.0 * kPi * v[0] * v[1]) +
                                            20.0 * (v[2] - 0.5) * (v[2] - 0.5) + 10.0 * v[3] +
                                            5.0 * v[4] + 1.0 * random.Normal();
        t.rows[i][static_cast<size_t>(fold)] = static_cast<double>(i % folds);
    }
    ClassesFromScore(score, t, cls);
    return t;
}

// Feature selection data: the targets depend on x3, x6, x10 and x13; the other twelve predictors
// are noise.
Table FeatureSelectionData(int n) {
    Table t = NewTable(n, 16, false, 0);
    Random random(777);
    const std::vector<std::vector<double>> u = FillPredictors(t, random);
    std::vector<double> score(static_cast<size_t>(n));
    const int cls = t.Column("cls");
    const int y = t.Column("y");
    for (size_t i = 0; i < u.size(); ++i) {
        const std::vector<double>& v = u[i];
        score[i] =
            std::sin(2.0 * kPi * v[5]) + 1.2 * v[2] + 0.6 * v[9] * v[12] + 0.3 * random.Normal();
        t.rows[i][static_cast<size_t>(y)] = 8.0 * v[2] + 4.0 * std::sin(2.0 * kPi * v[5]) +
                                            3.0 * v[9] * v[9] + 2.0 * v[12] + random.Normal();
    }
    ClassesFromScore(score, t, cls);
    return t;
}

// Every value with 17 significant digits, which reads back as the same double.
bool WriteCsv(const Table& t, const std::string& path) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        return false;
    }
    for (size_t j = 0; j < t.names.size(); ++j) {
        std::fprintf(out, "%s%s", j == 0 ? "" : ",", t.names[j].c_str());
    }
    std::fputc('\n', out);
    for (const std::vector<double>& row : t.rows) {
        for (size_t j = 0; j < row.size(); ++j) {
            std::fprintf(out, j == 0 ? "%.17g" : ",%.17g", row[j]);
        }
        std::fputc('\n', out);
    }
    return std::fclose(out) == 0;
}

std::string Number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string Dictionary(const Table& t) {
    std::string xml = "<Dictionary><Field name=\"id\" kind=\"continuous\" min=\"1\" max=\"" +
                      std::to_string(t.rows.size()) + "\"/>";
    for (int j = 0; j < t.predictors; ++j) {
        xml += "<Field name=\"" + t.names[static_cast<size_t>(j + 1)] +
               "\" kind=\"continuous\" min=\"" + Number(t.low[static_cast<size_t>(j)]) +
               "\" max=\"" + Number(t.high[static_cast<size_t>(j)]) + "\"/>";
    }
    auto categorical = [&xml](const std::string& name, int count) {
        xml += "<Field name=\"" + name + "\" kind=\"categorical-numeric\">";
        for (int c = 0; c < count; ++c) {
            xml += "<Category value=\"" + std::to_string(c) + "\"/>";
        }
        xml += "</Field>";
    };
    categorical("cls", t.classCount);
    const size_t y = static_cast<size_t>(t.Column("y"));
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    for (const std::vector<double>& row : t.rows) {
        low = std::min(low, row[y]);
        high = std::max(high, row[y]);
    }
    xml += "<Field name=\"y\" kind=\"continuous\" min=\"" + Number(low) + "\" max=\"" +
           Number(high) + "\"/>";
    if (t.hasFold) {
        categorical("fold", t.folds);
    }
    categorical("focal", 2);
    return xml + "</Dictionary>";
}

// The settings document for one target and the given parameter elements.
std::string SettingsXml(const Table& t, const std::string& target, const std::string& params) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings>" + Dictionary(t) +
                      "<Targets><Target name=\"" + target + "\"/></Targets><Predictors>";
    for (int j = 1; j <= t.predictors; ++j) {
        xml += "<Predictor name=\"" + t.names[static_cast<size_t>(j)] + "\"/>";
    }
    return xml +
           "</Predictors><Parameters>"
           "<Parameter key=\"CaseIDVar\" type=\"string\" value=\"id\"/>"
           "<Parameter key=\"FocalVar\" type=\"string\" value=\"focal\"/>"
           "<Parameter key=\"DistMetric\" type=\"string\" value=\"Euclidean\"/>"
           "<Parameter key=\"RescaleMethod\" type=\"bool\" value=\"true\"/>" +
           params + "</Parameters></Settings>\n";
}

std::string Param(const std::string& key, const std::string& type, const std::string& value) {
    return "<Parameter key=\"" + key + "\" type=\"" + type + "\" value=\"" + value + "\"/>";
}

// Hands the table's rows to the data preparation, one record at a time, as a host would.
class TableSource : public VelCommon_940::RecordSource {
public:
    explicit TableSource(const Table& t) : table(t) {}
    bool Reset() override {
        next = 0;
        return true;
    }
    const VelCommon_940::Record* Next() override {
        if (next >= table.rows.size()) {
            return nullptr;
        }
        record.Values() = table.rows[next++];
        return &record;
    }

private:
    const Table& table;
    VelCommon_940::Record record;
    size_t next = 0;
};

// Remembers when each selection stage first reported its end.
class StageClock : public VelCommon_940::ProgressSink {
public:
    void Notify(VelCommon_940::ProgressReport* report) override {
        const Clock::time_point now = Clock::now();
        for (const char* stage : {"kselection", "featSelection"}) {
            if (report->DiscreteMeasure(stage) > 0 && ends.count(stage) == 0) {
                ends[stage] = now;
            }
        }
    }
    std::map<std::string, Clock::time_point> ends;
};

struct Outcome {
    double prepare = 0.0;  // settings read and data preparation pass
    double build = 0.0;    // the whole build: preparation, selection and the final tree
    double select = 0.0;   // the selection stage alone
    int k = 0;
    std::vector<double> errors;       // K selection: error per K
    std::vector<std::string> chosen;  // feature selection: features in order of selection
    std::vector<double> history;      // feature selection: error after each added feature
};

[[noreturn]] void Fail(const std::string& what, const VelCommon_940::VelStatus& status) {
    std::fprintf(stderr, "%s failed: code %ld %s\n", what.c_str(),
                 static_cast<long>(status.GetErrorCode()), status.GetMessage().c_str());
    std::exit(1);
}

// One build: settings, preparation, model driver with selection. Keeps the selection results.
Outcome BuildOnce(const Table& t, const std::string& settingsXml, const char* stage) {
    Outcome o;
    StageClock clock;
    const Clock::time_point start = Clock::now();
    KNN_800::SettingsReader reader;
    std::istringstream in(settingsXml);
    VelCommon_940::VelStatus status = reader.Read(in);
    if (status.IsError()) {
        Fail("settings", status);
    }
    KNN_800::RunContext context;
    context.SetProgressSink(&clock);
    KNN_800::KNNDataPreparation preparation(reader.Settings(), reader.Dictionary(), context,
                                            nullptr);
    TableSource source(t);
    status = preparation.Run(source);
    if (status.IsError()) {
        Fail("data preparation", status);
    }
    const Clock::time_point prepared = Clock::now();
    KNN_800::KNNModel model(preparation, context);
    status = model.Build();
    if (status.IsError()) {
        Fail("model build", status);
    }
    const Clock::time_point built = Clock::now();
    o.prepare = Seconds(start, prepared);
    o.build = Seconds(start, built);
    o.select = clock.ends.count(stage) != 0 ? Seconds(prepared, clock.ends[stage]) : NAN;

    o.k = model.Models().front()->GetK();
    if (const KNN_800::KNNAutoKSelection* ks = model.Selection()->GetKSelection()) {
        o.errors = ks->GetErrors().front();
    }
    if (const KNN_800::KNNFeatureSelection* fs = model.Selection()->GetFeatureSelection()) {
        for (int field : fs->GetSelectedFeatures().front()) {
            o.chosen.push_back(t.names[static_cast<size_t>(field)]);
        }
        o.history = fs->GetErrorHistories().front();
    }
    return o;
}

Outcome Best(const Table& t, const std::string& settingsXml, const char* stage, int repeat) {
    Outcome best = BuildOnce(t, settingsXml, stage);
    for (int r = 1; r < repeat; ++r) {
        const Outcome o = BuildOnce(t, settingsXml, stage);
        best.prepare = std::min(best.prepare, o.prepare);
        best.build = std::min(best.build, o.build);
        best.select = std::min(best.select, o.select);
    }
    return best;
}

std::string JsonList(const std::vector<double>& values) {
    std::string s = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        s += (i == 0 ? "" : ", ") + Number(values[i]);
    }
    return s + "]";
}

std::string JsonList(const std::vector<std::string>& values) {
    std::string s = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        s += (i == 0 ? "\"" : ", \"") + values[i] + "\"";
    }
    return s + "]";
}

std::string Json(const Outcome& o) {
    return "{\"prepare_s\": " + Number(o.prepare) + ", \"build_s\": " + Number(o.build) +
           ", \"select_s\": " + Number(o.select) + ", \"k\": " + std::to_string(o.k) +
           ", \"errors\": " + JsonList(o.errors) + ", \"features\": " + JsonList(o.chosen) +
           ", \"history\": " + JsonList(o.history) + "}";
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    bool quick = false;
    int repeat = 3;
    std::string only;
    std::string threads;  // empty: the key is left out (one thread)
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--data") == 0 && a + 1 < argc) {
            dir = argv[++a];
        } else if (std::strcmp(argv[a], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++a]));
        } else if (std::strcmp(argv[a], "--only") == 0 && a + 1 < argc &&
                   (std::strcmp(argv[a + 1], "kselect") == 0 ||
                    std::strcmp(argv[a + 1], "fselect") == 0)) {
            only = argv[++a];
        } else if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            threads = argv[++a];
        } else {
            dir.clear();
            break;
        }
    }
    if (dir.empty()) {
        std::fprintf(stderr,
                     "usage: %s --data DIR [--quick] [--repeat R] [--only kselect|fselect] "
                     "[--threads T]\n",
                     argv[0]);
        return 2;
    }
    const int scale = quick ? 10 : 1;
    const int minK = 1;
    const int maxK = 30;
    const int fsK = 5;
    const int fsCount = 5;

    const std::string threadsParam = threads.empty() ? "" : Param("Threads", "int", threads);
    std::vector<std::pair<std::string, std::string>> results;  // name, JSON object
    std::string workloads;
    std::printf("%-13s %8s %11s %11s  %s\n", "workload", "N", "build (s)", "select (s)", "result");
    auto report = [&results](const std::string& name, int n, const Outcome& o) {
        std::string result = "K = " + std::to_string(o.k);
        if (!o.chosen.empty()) {
            result = "features";
            for (const std::string& f : o.chosen) {
                result += " " + f;
            }
        }
        std::printf("%-13s %8d %11.3f %11.3f  %s\n", name.c_str(), n, o.build, o.select,
                    result.c_str());
        std::fflush(stdout);
        results.emplace_back(name, Json(o));
    };

    if (only.empty() || only == "kselect") {
        const int n = 100000 / scale;
        const Table t = KSelectionData(n);
        if (!WriteCsv(t, dir + "/kselect.csv")) {
            std::fprintf(stderr, "cannot write %s/kselect.csv\n", dir.c_str());
            return 1;
        }
        const std::string params =
            Param("IsAutoKSelection", "bool", "true") + Param("MinK", "int", std::to_string(minK)) +
            Param("MaxK", "int", std::to_string(maxK)) + Param("VFoldVar", "string", "fold") +
            Param("VFoldValue", "int", std::to_string(t.folds)) + threadsParam;
        for (const char* target : {"cls", "y"}) {
            const Outcome o = Best(t, SettingsXml(t, target, params), "kselection", repeat);
            report(std::string("kselect_") + (target[0] == 'c' ? "cat" : "cont"), n, o);
        }
        workloads += "\"kselect\": {\"csv\": \"kselect.csv\", \"n\": " + std::to_string(n) +
                     ", \"d\": 8, \"folds\": " + std::to_string(t.folds) +
                     ", \"min_k\": " + std::to_string(minK) +
                     ", \"max_k\": " + std::to_string(maxK) + "}";
    }
    if (only.empty() || only == "fselect") {
        const int n = 5000 / scale;
        const Table t = FeatureSelectionData(n);
        if (!WriteCsv(t, dir + "/fselect.csv")) {
            std::fprintf(stderr, "cannot write %s/fselect.csv\n", dir.c_str());
            return 1;
        }
        const std::string params = Param("IsFeatureSelection", "bool", "true") +
                                   Param("NSpecifiedFeatures", "int", std::to_string(fsCount)) +
                                   Param("SpecifiedK", "int", std::to_string(fsK)) + threadsParam;
        for (const char* target : {"cls", "y"}) {
            const Outcome o = Best(t, SettingsXml(t, target, params), "featSelection", repeat);
            report(std::string("fselect_") + (target[0] == 'c' ? "cat" : "cont"), n, o);
        }
        workloads += std::string(workloads.empty() ? "" : ", ") +
                     "\"fselect\": {\"csv\": \"fselect.csv\", \"n\": " + std::to_string(n) +
                     ", \"d\": 16, \"k\": " + std::to_string(fsK) +
                     ", \"features\": " + std::to_string(fsCount) + "}";
    }

    FILE* out = std::fopen((dir + "/ours.json").c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s/ours.json\n", dir.c_str());
        return 1;
    }
    std::fprintf(out, "{\"quick\": %s, \"repeat\": %d, \"workloads\": {%s},\n \"results\": {",
                 quick ? "true" : "false", repeat, workloads.c_str());
    for (size_t i = 0; i < results.size(); ++i) {
        std::fprintf(out, "%s\n  \"%s\": %s", i == 0 ? "" : ",", results[i].first.c_str(),
                     results[i].second.c_str());
    }
    std::fprintf(out, "}}\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
