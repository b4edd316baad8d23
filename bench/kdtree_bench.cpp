// Times the component's kd-tree (built through the real data preparation path) against
// nanoflann on identical data: tree build, and an all-points search in which every training
// case is searched once with itself excluded, K = 10 (nanoflann: K + 1, then the case itself
// is dropped). Prints one table row per configuration with the ratio ours / peer.
//
//   kdtree_bench [--quick] [--full] [--repeat R] [--only N,d] [--side ours|peer] [--threads T]
//
// Builds: the first one (a new tree, on buffers new to it) and the fastest of at
// least one more ("rebuild"; ours clears and rebuilds the same tree, as feature selection
// does). --repeat runs every search R times and keeps the fastest. --quick divides every N by
// 10. For 16 features every 10th case is searched and the time multiplied by 10 (marked *)
// unless --full is given. --only runs one size (0 for "any"); --side runs only one of the two
// searchers (for profiling). --threads T runs the all-points searches of both sides on T threads
// (the calling one included), which take chunks of 32 consecutive queries one at a time
// (knn/base/ParallelChunks.h); ours searches the one tree with a scratch per thread, the peer
// with its buffers per thread. The builds stay on one thread.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nanoflann.hpp>
#include <random>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "Record.h"
#include "VelVarList.h"
#include "knn/base/ParallelChunks.h"
#include "knn/base/RunContext.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/search/kdtree/KNNKdTree.h"
#include "knn/settings/KNNSettings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Row-major points, n x d.
struct Points {
    int n = 0;
    int d = 0;
    std::vector<double> values;

    size_t kdtree_get_point_count() const { return static_cast<size_t>(n); }
    double kdtree_get_pt(size_t i, size_t j) const {
        return values[i * static_cast<size_t>(d) + j];
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

Points Generate(int n, int d, bool clustered, unsigned seed) {
    Points p{n, d, std::vector<double>(static_cast<size_t>(n) * static_cast<size_t>(d))};
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    if (!clustered) {
        for (double& v : p.values) {
            v = uniform(random);
        }
        return p;
    }
    // 32 Gaussian clusters of different widths around uniform centres.
    const int clusters = 32;
    std::vector<double> centres(static_cast<size_t>(clusters * d));
    std::vector<double> widths(static_cast<size_t>(clusters));
    for (double& c : centres) {
        c = uniform(random);
    }
    for (double& w : widths) {
        w = 0.005 + 0.05 * uniform(random);
    }
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int i = 0; i < n; ++i) {
        const size_t c = static_cast<size_t>(random() % clusters);
        for (int j = 0; j < d; ++j) {
            p.values[static_cast<size_t>(i) * d + j] =
                centres[c * d + static_cast<size_t>(j)] + widths[c] * normal(random);
        }
    }
    return p;
}

// Hands the generated points to the data preparation as records: d features and a case
// identifier in the last column.
class PointSource : public VelCommon_940::RecordSource {
public:
    explicit PointSource(const Points& points)
        : points(points), record(std::vector<double>(static_cast<size_t>(points.d) + 1)) {}
    bool Reset() override {
        next = 0;
        return true;
    }
    const VelCommon_940::Record* Next() override {
        if (next >= points.n) {
            return nullptr;
        }
        std::vector<double>& v = record.Values();
        std::copy_n(&points.values[static_cast<size_t>(next) * points.d], points.d, v.begin());
        v[static_cast<size_t>(points.d)] = next;
        ++next;
        return &record;
    }

private:
    const Points& points;
    VelCommon_940::Record record;
    int next = 0;
};

struct Timing {
    double firstBuild = 0.0;  // the first build, memory fresh from the system
    double rebuild = 1e30;    // fastest later build (ours: Clear and Build on the same tree)
    double search = 1e30;     // fastest all-points search
};

int threadCount = 1;  // --threads
constexpr size_t kQueriesPerChunk = 32;

// Builds are cheap next to searches: at least two are timed so that a rebuild is measured.
int Builds(int repeat) {
    return std::max(2, repeat);
}

template <class Index>
void SearchPeer(const Index& index, const Points& points, int K, int stride,
                std::vector<float>* kth);
template <class Index>
void SearchPeerOne(const Index& index, const Points& points, int K, int i,
                   std::vector<uint32_t>& ids, std::vector<double>& squared,
                   std::vector<float>* kth);

Timing RunOurs(const Points& points, int K, int repeat, int stride, std::vector<float>* kth) {
    KNN_800::KNNSettings settings;
    VelXML_940::VelVarList dictionary;
    settings.TotalVarNum = points.d + 1;
    settings.RescaleMethod = 1;
    settings.CaseIDVariable = points.d;
    std::vector<int> features;
    for (int j = 0; j <= points.d; ++j) {
        dictionary.Add(new VelXML_940::VelContVar("x" + std::to_string(j)));
        settings.UsedVariables.push_back(j);
        if (j < points.d) {
            features.push_back(j);
        }
    }
    PointSource source(points);
    KNN_800::RunContext context;
    KNN_800::KNNDataPreparation preparation(settings, dictionary, context, nullptr);
    if (preparation.Run(source).IsError()) {
        std::fprintf(stderr, "data preparation failed\n");
        std::exit(1);
    }
    KNN_800::KNNKdTree tree(&preparation);
    Timing t;
    for (int b = 0; b < Builds(repeat); ++b) {
        const Clock::time_point start = Clock::now();
        tree.Clear();
        tree.Build(features, -1, nullptr);
        (b == 0 ? t.firstBuild : t.rebuild) = std::min(t.rebuild, Seconds(start));
    }
    const std::vector<double*>& rows = preparation.Rows();
    const auto keep = [kth](size_t i, const KNN_800::NeighborList& list) {
        if (list.count > 0) {
            (*kth)[i] =
                static_cast<float>(list.entries[static_cast<size_t>(list.count) - 1].distance);
        }
    };
    const size_t queries = (rows.size() + static_cast<size_t>(stride) - 1) / stride;
    const size_t chunks = (queries + kQueriesPerChunk - 1) / kQueriesPerChunk;
    std::vector<KNN_800::KNNKdTree::SearchScratch> scratch(static_cast<size_t>(threadCount));
    std::vector<uint8_t> putAside(rows.size(), 0);
    for (int r = 0; r < repeat; ++r) {
        const Clock::time_point start = Clock::now();
        if (threadCount == 1) {
            for (size_t i = 0; i < rows.size(); i += static_cast<size_t>(stride)) {
                keep(i, *tree.Search(rows[i], K, false));
            }
        } else {
            KNN_800::RunChunks(threadCount, chunks, nullptr, [&](int lane, size_t chunk) {
                const size_t end = std::min(queries, (chunk + 1) * kQueriesPerChunk);
                for (size_t q = chunk * kQueriesPerChunk; q < end; ++q) {
                    const size_t i = q * static_cast<size_t>(stride);
                    const KNN_800::NeighborList* list =
                        tree.SearchShared(scratch[static_cast<size_t>(lane)], rows[i], K, false);
                    putAside[i] = list == nullptr;
                    if (list != nullptr) {
                        keep(i, *list);
                    }
                }
            });
            for (size_t i = 0; i < rows.size(); i += static_cast<size_t>(stride)) {
                if (putAside[i]) {
                    keep(i, *tree.Search(rows[i], K, false));
                }
            }
        }
        t.search = std::min(t.search, Seconds(start));
    }
    if (tree.UndecidedSearches() > 0) {
        std::printf("(%ld searches settled node by node)\n", tree.UndecidedSearches());
    }
    return t;
}

Timing RunPeer(const Points& points, int K, int repeat, int stride, std::vector<float>* kth) {
    using Index = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Points>,
                                                      Points, -1, uint32_t>;
    Timing t;
    for (int b = 0; b < Builds(repeat); ++b) {
        const Clock::time_point start = Clock::now();
        Index index(points.d, points, nanoflann::KDTreeSingleIndexAdaptorParams(10));
        (b == 0 ? t.firstBuild : t.rebuild) = std::min(t.rebuild, Seconds(start));
    }
    const Index index(points.d, points, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    for (int r = 0; r < repeat; ++r) {
        const Clock::time_point start = Clock::now();
        SearchPeer(index, points, K, stride, kth);
        t.search = std::min(t.search, Seconds(start));
    }
    return t;
}

template <class Index>
void SearchPeer(const Index& index, const Points& points, int K, int stride,
                std::vector<float>* kth) {
    const size_t lanes = static_cast<size_t>(threadCount);
    std::vector<std::vector<uint32_t>> idsOf(lanes, std::vector<uint32_t>(K + 1u));
    std::vector<std::vector<double>> squaredOf(lanes, std::vector<double>(K + 1u));
    const size_t queries = (static_cast<size_t>(points.n) + stride - 1) / stride;
    const size_t chunks = (queries + kQueriesPerChunk - 1) / kQueriesPerChunk;
    KNN_800::RunChunks(threadCount, chunks, nullptr, [&](int lane, size_t chunk) {
        std::vector<uint32_t>& ids = idsOf[static_cast<size_t>(lane)];
        std::vector<double>& squared = squaredOf[static_cast<size_t>(lane)];
        const size_t end = std::min(queries, (chunk + 1) * kQueriesPerChunk);
        for (size_t query = chunk * kQueriesPerChunk; query < end; ++query) {
            SearchPeerOne(index, points, K, static_cast<int>(query) * stride, ids, squared, kth);
        }
    });
}

template <class Index>
void SearchPeerOne(const Index& index, const Points& points, int K, int i,
                   std::vector<uint32_t>& ids, std::vector<double>& squared,
                   std::vector<float>* kth) {
    {
        const double* q = &points.values[static_cast<size_t>(i) * points.d];
        const size_t found =
            index.knnSearch(q, static_cast<size_t>(K) + 1, ids.data(), squared.data());
        // Drop the case itself (or, among exact duplicates, one copy at distance 0).
        size_t kept = 0;
        bool dropped = false;
        double last = 0.0;
        for (size_t r = 0; r < found && kept < static_cast<size_t>(K); ++r) {
            if (!dropped && (ids[r] == static_cast<uint32_t>(i) || r + 1 == found)) {
                dropped = true;
                continue;
            }
            last = std::sqrt(squared[r]);
            ++kept;
        }
        (*kth)[static_cast<size_t>(i)] = static_cast<float>(last);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool full = false;
    int repeat = 1;
    int onlyN = 0;
    int onlyD = 0;
    bool runOurs = true;
    bool runPeer = true;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[a], "--full") == 0) {
            full = true;
        } else if (std::strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++a]));
        } else if (std::strcmp(argv[a], "--only") == 0 && a + 1 < argc) {
            std::sscanf(argv[++a], "%d,%d", &onlyN, &onlyD);
        } else if (std::strcmp(argv[a], "--side") == 0 && a + 1 < argc) {
            ++a;
            runOurs = std::strcmp(argv[a], "ours") == 0;
            runPeer = std::strcmp(argv[a], "peer") == 0;
        } else if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
            threadCount = std::max(1, std::atoi(argv[++a]));
        } else {
            std::fprintf(stderr,
                         "usage: %s [--quick] [--full] [--repeat R] [--only N,d] [--side "
                         "ours|peer] [--threads T]\n",
                         argv[0]);
            return 2;
        }
    }
    struct Config {
        int n;
        int d;
    };
    std::vector<Config> configs{{100000, 2},  {100000, 4},  {100000, 8},
                                {100000, 16}, {1000000, 2}, {1000000, 4}};
    const int K = 10;

    std::printf("%-8s %2s %-9s | %-22s | %-22s | %-24s | %s\n", "", "", "", "first build",
                "rebuild", "all-points search", "k-th");
    std::printf("%-8s %2s %-9s | %8s %8s %4s | %8s %8s %4s | %9s %9s %4s | %s\n", "N", "d", "data",
                "ours", "peer", "o/p", "ours", "peer", "o/p", "ours", "peer", "o/p", "agree");
    for (const Config& c : configs) {
        const int n = quick ? c.n / 10 : c.n;
        if ((onlyN != 0 && c.n != onlyN) || (onlyD != 0 && c.d != onlyD)) {
            continue;
        }
        for (bool clustered : {false, true}) {
            const Points points = Generate(n, c.d, clustered, 1234u + static_cast<unsigned>(c.d));
            std::vector<float> oursKth(static_cast<size_t>(n));
            std::vector<float> peerKth(static_cast<size_t>(n));
            // 16 features make every search touch a large part of the tree; unless --full is
            // given, every 10th case is searched and the time scaled up (marked *).
            const int stride = (c.d >= 16 && !full) ? 10 : 1;
            Timing ours = runOurs ? RunOurs(points, K, repeat, stride, &oursKth) : Timing{};
            Timing peer = runPeer ? RunPeer(points, K, repeat, stride, &peerKth) : Timing{};
            ours.search *= stride;
            peer.search *= stride;
            std::string agree = "-";
            if (runOurs && runPeer) {
                int disagree = 0;
                for (int i = 0; i < n; ++i) {
                    const float o = oursKth[static_cast<size_t>(i)];
                    const float p = peerKth[static_cast<size_t>(i)];
                    if (std::fabs(o - p) > 1e-6f * (1.0f + p)) {
                        ++disagree;
                    }
                }
                agree = disagree == 0 ? "yes" : std::to_string(disagree) + " differ";
            }
            const char unit = stride > 1 ? '*' : 's';
            const auto time = [&](double seconds, bool ran, int width, int decimals, char u) {
                char cell[32];
                if (ran) {
                    std::snprintf(cell, sizeof cell, "%*.*f%c", width - 1, decimals, seconds, u);
                } else {
                    std::snprintf(cell, sizeof cell, "%*s", width, "-");
                }
                return std::string(cell);
            };
            const auto ratio = [&](double o, double p) {
                char cell[16];
                if (runOurs && runPeer) {
                    std::snprintf(cell, sizeof cell, "%4.2f", o / p);
                } else {
                    std::snprintf(cell, sizeof cell, "%4s", "-");
                }
                return std::string(cell);
            };
            std::printf("%-8d %2d %-9s | %s %s %s | %s %s %s | %s %s %s | %s\n", n, c.d,
                        clustered ? "clustered" : "uniform",
                        time(ours.firstBuild, runOurs, 8, 3, 's').c_str(),
                        time(peer.firstBuild, runPeer, 8, 3, 's').c_str(),
                        ratio(ours.firstBuild, peer.firstBuild).c_str(),
                        time(ours.rebuild, runOurs, 8, 3, 's').c_str(),
                        time(peer.rebuild, runPeer, 8, 3, 's').c_str(),
                        ratio(ours.rebuild, peer.rebuild).c_str(),
                        time(ours.search, runOurs, 9, 3, unit).c_str(),
                        time(peer.search, runPeer, 9, 3, unit).c_str(),
                        ratio(ours.search, peer.search).c_str(), agree.c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
