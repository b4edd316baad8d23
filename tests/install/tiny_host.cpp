// A host program built against the installed package only: it loads the component by name,
// builds a model of iris species from the example's CSV file and scores one new flower.
//
//   tiny_host IRIS.csv [COMPONENT.so]
//
// The component defaults to the installed one that find_package(knn) named. Prints the
// predicted species and its probability; exits 0 when the build and the score succeed.
#include <dlfcn.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "IVelAlgorithm.h"
#include "Record.h"
#include "VelMV.h"
#include "VelStatus.h"

namespace {

using VelCommon_940::IVelAlgorithm;
using VelCommon_940::IVelFactory;
using VelCommon_940::Record;
using VelCommon_940::VelStatus;

const std::vector<std::string> kSpecies = {"setosa", "versicolor", "virginica"};

// Dictionary order: four measurements, the species, the record number and the focal field.
const char* const kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<Settings version="1">
  <Dictionary>
    <Field name="sepal_length" kind="continuous" min="4.3" max="7.9"/>
    <Field name="sepal_width" kind="continuous" min="2" max="4.4"/>
    <Field name="petal_length" kind="continuous" min="1" max="6.9"/>
    <Field name="petal_width" kind="continuous" min="0.1" max="2.5"/>
    <Field name="species" kind="categorical-string">
      <Category value="setosa"/><Category value="versicolor"/><Category value="virginica"/>
    </Field>
    <Field name="row" kind="continuous" min="1" max="150"/>
    <Field name="focal" kind="categorical-numeric"><Category value="1"/></Field>
  </Dictionary>
  <Targets><Target name="species"/></Targets>
  <Predictors>
    <Predictor name="sepal_length"/><Predictor name="sepal_width"/>
    <Predictor name="petal_length"/><Predictor name="petal_width"/>
  </Predictors>
  <Parameters>
    <Parameter key="CaseIDVar" type="string" value="row"/>
    <Parameter key="FocalVar" type="string" value="focal"/>
    <Parameter key="FocalCaseValue" type="string" value="1"/>
    <Parameter key="IsAutoKSelection" type="bool" value="false"/>
    <Parameter key="SpecifiedK" type="int" value="5"/>
  </Parameters>
</Settings>
)";

class VectorSource : public VelCommon_940::RecordSource {
public:
    explicit VectorSource(std::vector<Record> records) : records_(std::move(records)) {}
    bool Reset() override {
        next_ = 0;
        return true;
    }
    const Record* Next() override { return next_ < records_.size() ? &records_[next_++] : nullptr; }

private:
    std::vector<Record> records_;
    std::size_t next_ = 0;
};

int Fail(const std::string& what, const VelStatus& status) {
    std::cerr << "tiny_host: " << what << " failed: status " << status.GetErrorCode() << ' '
              << status.GetMessage() << '\n';
    return 1;
}

// Reads the example: a header line, then four numbers and a species name per line.
bool ReadIris(const std::string& path, std::vector<Record>& records) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return false;
    }
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {  // the example has CRLF line ends
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::istringstream cells(line);
        std::string cell;
        std::vector<double> values;
        for (int i = 0; i < 4 && std::getline(cells, cell, ','); ++i) {
            values.push_back(std::stod(cell));
        }
        if (values.size() != 4 || !std::getline(cells, cell)) {
            return false;
        }
        double code = -1;  // an unknown species is a missing value
        for (std::size_t c = 0; c < kSpecies.size(); ++c) {
            if (cell == kSpecies[c]) {
                code = static_cast<double>(c);
            }
        }
        values.push_back(code);
        values.push_back(static_cast<double>(records.size() + 1));  // record number
        values.push_back(0);                                        // focal: category "1"
        records.emplace_back(std::move(values));
    }
    return !records.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: tiny_host IRIS.csv [COMPONENT.so]\n";
        return 2;
    }
    const std::string component = argc == 3 ? argv[2] : KNN_COMPONENT_LIBRARY;

    std::vector<Record> records;
    if (!ReadIris(argv[1], records)) {
        std::cerr << "tiny_host: cannot read " << argv[1] << '\n';
        return 1;
    }

    void* library = dlopen(component.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::cerr << "tiny_host: cannot load " << component << ": " << dlerror() << '\n';
        return 1;
    }
    auto entry =
        reinterpret_cast<VelCommon_940::GetVelFactoryFunction>(dlsym(library, "GetVelFactory"));
    if (entry == nullptr) {
        std::cerr << "tiny_host: " << component << " has no GetVelFactory\n";
        return 1;
    }

    int exitCode = 1;
    {
        // The factory and the algorithm are the component's code: both go before dlclose.
        std::unique_ptr<IVelFactory> factory(entry());
        if (factory == nullptr) {
            std::cerr << "tiny_host: the component gave no factory\n";
            return 1;
        }
        std::istringstream settings(kSettings);
        std::unique_ptr<IVelAlgorithm> algorithm(factory->CreateVelAlgorithm(settings));
        if (algorithm == nullptr) {
            return Fail("reading the settings", factory->GetStatus());
        }
        const std::size_t trained = records.size();
        VectorSource source(std::move(records));
        VelStatus status = algorithm->Build(source);
        if (status.IsError()) {
            return Fail("build", status);
        }

        // A flower whose species, record number and focal value are unknown.
        const double missing = VelCommon_940::VelMV::Missing();
        const Record flower({6.3, 3.3, 6.0, 2.5, -1, missing, 0});
        VelCommon_940::ScoreOptions options;
        options.perTargetK = true;
        std::vector<std::vector<double>> result;
        status = algorithm->Score(flower, &options, result);
        if (status.IsError()) {
            return Fail("score", status);
        }
        // One vector for the one target: n identifiers, n distances, one probability per
        // species, n predictions (for k = 1 ... n) and n case labels.
        const std::size_t m = kSpecies.size();
        if (result.size() != 1 || result[0].size() < m + 4 || (result[0].size() - m) % 4 != 0) {
            std::cerr << "tiny_host: unexpected result layout\n";
            return 1;
        }
        const std::vector<double>& r = result[0];
        const std::size_t n = (r.size() - m) / 4;
        const double predicted = r[3 * n + m - 1];
        if (predicted < 0 || predicted >= static_cast<double>(m)) {
            std::cerr << "tiny_host: no prediction\n";
            return 1;
        }
        const std::size_t code = static_cast<std::size_t>(predicted);
        std::cout << "component " << component << " (version " << algorithm->GetVersion() << ")\n"
                  << "trained on " << trained << " records, K = " << n << '\n'
                  << "species: " << kSpecies[code] << " (probability " << r[2 * n + code] << ")\n";
        exitCode = 0;
    }
    dlclose(library);
    return exitCode;
}
