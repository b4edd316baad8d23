// Peak memory of the model-document export. Acts as a host: loads the component library,
// builds a classification model on N generated cases (delivered one at a time, never kept by
// this program) and, unless told not to, exports the model document to a file. Run it under
// /usr/bin/time -v with and without the export: the difference is what the export itself
// needs, which must not grow with N because the case tables stream through temporary files.
//
//   pmml_export_memory N [--build-only] [--out FILE] [--temp DIR/] [--lib LIBRARY]
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "IVelAlgorithm.h"

namespace {

using VelCommon_940::IVelAlgorithm;
using VelCommon_940::IVelFactory;
using VelCommon_940::Record;

// id, three continuous predictors, a two-category target, the focal flag.
std::string Settings(long n, const std::string& tempDir) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><Dictionary>"
           "<Field name=\"id\" kind=\"continuous\" min=\"1\" max=\"" +
           std::to_string(n) +
           "\"/>"
           "<Field name=\"x1\" kind=\"continuous\" min=\"0\" max=\"1\"/>"
           "<Field name=\"x2\" kind=\"continuous\" min=\"0\" max=\"1\"/>"
           "<Field name=\"x3\" kind=\"continuous\" min=\"0\" max=\"1\"/>"
           "<Field name=\"cls\" kind=\"categorical-string\"><Category value=\"no\"/>"
           "<Category value=\"yes\"/></Field>"
           "<Field name=\"focal\" kind=\"categorical-numeric\"><Category value=\"1\"/></Field>"
           "</Dictionary><Targets><Target name=\"cls\"/></Targets><Predictors>"
           "<Predictor name=\"x1\"/><Predictor name=\"x2\"/><Predictor name=\"x3\"/>"
           "</Predictors><Parameters>"
           "<Parameter key=\"CaseIDVar\" type=\"string\" value=\"id\"/>"
           "<Parameter key=\"FocalVar\" type=\"string\" value=\"focal\"/>"
           "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"5\"/>"
           "<Parameter key=\"TempFileDir\" type=\"string\" value=\"" +
           tempDir + "\"/></Parameters></Settings>\n";
}

// Generates the records one at a time from a fixed seed.
class GeneratedSource : public VelCommon_940::RecordSource {
public:
    explicit GeneratedSource(long n) : n(n), record(std::vector<double>(6)) {}
    bool Reset() override {
        next = 0;
        random.seed(42);
        return true;
    }
    const Record* Next() override {
        if (next >= n)
            return nullptr;
        std::vector<double>& v = record.Values();
        v[0] = static_cast<double>(++next);
        v[1] = unit(random);
        v[2] = unit(random);
        v[3] = unit(random);
        v[4] = v[1] + v[2] + 0.3 * unit(random) > 1.15 ? 1 : 0;
        v[5] = 0;
        return &record;
    }

private:
    long n;
    long next = 0;
    Record record;
    std::mt19937 random;
    std::uniform_real_distribution<double> unit{0.0, 1.0};
};

// A "Vm..." line of /proc/self/status in kB; -1 where the file does not exist.
long StatusKb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

// Restarts the peak-memory mark (VmHWM) at the current resident size, where Linux allows it.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: pmml_export_memory N [--build-only] [--out FILE] [--temp DIR/] "
                     "[--lib LIBRARY]\n";
        return 2;
    }
    const long n = std::atol(argv[1]);
    bool exportDocument = true;
    std::string out = "pmml_export_memory.pmml";
    std::string temp = "/tmp/";
#ifdef KNN_LIBRARY_DIR
    std::string library = std::string(KNN_LIBRARY_DIR) + "/libknn800.so";
#else
    std::string library = "libknn800.so";
#endif
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--build-only") {
            exportDocument = false;
        } else if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--temp" && i + 1 < argc) {
            temp = argv[++i];
        } else if (arg == "--lib" && i + 1 < argc) {
            library = argv[++i];
        }
    }

    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::cerr << dlerror() << '\n';
        return 1;
    }
    auto get =
        reinterpret_cast<VelCommon_940::GetVelFactoryFunction>(dlsym(handle, "GetVelFactory"));
    std::unique_ptr<IVelFactory> factory(get());
    std::istringstream settings(Settings(n, temp));
    std::unique_ptr<IVelAlgorithm> algorithm(factory->CreateVelAlgorithm(settings));
    if (algorithm == nullptr) {
        std::cerr << "settings refused: " << factory->GetStatus().GetErrorCode() << '\n';
        return 1;
    }

    GeneratedSource source(n);
    auto start = std::chrono::steady_clock::now();
    const VelCommon_940::VelStatus built = algorithm->Build(source);
    if (built.IsError()) {
        std::cerr << "build failed: " << built.GetErrorCode() << '\n';
        return 1;
    }
    std::cout << "cases " << n << "\nbuild seconds " << Seconds(start) << "\nbuild peak kB "
              << StatusKb("VmHWM") << "\nresident after build kB " << StatusKb("VmRSS") << '\n';

    if (exportDocument) {
        ResetPeak();
        start = std::chrono::steady_clock::now();
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        const VelCommon_940::VelStatus exported = algorithm->Export(file, nullptr);
        file.close();
        if (!exported.IsOK()) {
            std::cerr << "export failed: " << exported.GetErrorCode() << " "
                      << exported.GetMessage() << '\n';
            return 1;
        }
        std::ifstream written(out, std::ios::binary | std::ios::ate);
        std::cout << "export seconds " << Seconds(start) << "\nexport peak kB " << StatusKb("VmHWM")
                  << "\ndocument bytes " << static_cast<long long>(written.tellg()) << '\n';
    }
    algorithm.reset();
    factory.reset();
    dlclose(handle);
    return 0;
}
