// Speed of reading a data file as `knn run` does (docs/performance.md, "Reading CSV"). For one
// settings document and one CSV file it times, best and median of R passes, in MB/s of the
// file (10^6 bytes per second):
//   raw     the file read in blocks of 1 MiB and nothing else: the ceiling from the page cache;
//   split   the CSV reader splitting every record into fields;
//   stream  every record read and converted to the component's values, as the records of the
//           training data are handed to the component (nothing is kept);
//   load    the same keeping every record's values, as the records to score are read.
// Run it once before timing, so that the file is in the page cache:
//   csv_read_bench SETTINGS.xml DATA.csv [R]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Csv.h"
#include "Data.h"
#include "Settings.h"

using namespace knncli;

namespace {

double Seconds(const std::function<void()>& pass) {
    const auto start = std::chrono::steady_clock::now();
    pass();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* name, const std::vector<double>& seconds, double bytes, long records) {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const double best = sorted.front();
    const double median = sorted[sorted.size() / 2];
    std::printf("%-7s best %7.3f s %7.1f MB/s   median %7.3f s %7.1f MB/s   (%ld records)\n", name,
                best, bytes / best / 1e6, median, bytes / median / 1e6, records);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: csv_read_bench SETTINGS.xml DATA.csv [REPEATS]\n");
        return 2;
    }
    const AnalysisSettings settings = LoadSettings(argv[1]);
    const std::string path = argv[2];
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    double bytes = 0;
    long records = 0;
    std::vector<double> raw, split, stream, load;
    for (int r = 0; r < repeats; ++r) {
        raw.push_back(Seconds([&] {
            const int fd = open(path.c_str(), O_RDONLY);
            std::vector<char> block(size_t{1} << 20);
            bytes = 0;
            for (ssize_t n; (n = read(fd, block.data(), block.size())) > 0;) {
                bytes += static_cast<double>(n);
            }
            close(fd);
        }));
        split.push_back(Seconds([&] {
            DataInput input(path);
            CsvReader reader(input.Stream(), input.Name());
            std::vector<std::string_view> fields;
            records = -1;  // the header
            while (reader.ReadRecord(fields)) {
                ++records;
            }
        }));
        stream.push_back(Seconds([&] {
            DataReader reader(path, settings, DataRole::kTraining);
            while (reader.Next() != nullptr) {
            }
        }));
        load.push_back(Seconds([&] {
            const LoadedData data = LoadData(path, settings, DataRole::kScoring, nullptr);
            records = data.Records();
        }));
    }
    Report("raw", raw, bytes, records);
    Report("split", split, bytes, records);
    Report("stream", stream, bytes, records);
    Report("load", load, bytes, records);
    return 0;
}
