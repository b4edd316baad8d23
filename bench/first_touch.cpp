// How much it costs on this machine to touch memory for the first time: allocates a block the
// way the kd-tree's large buffers are allocated (2 MB aligned, huge pages asked for), writes one
// byte per 4 KB page, and prints the time and the share of the block the kernel backed with
// huge pages. Run it several times: where the machine returns freed memory to its host (as
// virtual machines with free page reporting do), the first run pays far more than the next.
//
//   g++ -std=c++20 -O2 bench/first_touch.cpp -o first_touch && ./first_touch 64
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const bool hugePages = !(argc > 2 && std::string(argv[2]) == "--small-pages");
    const size_t bytes = megabytes << 20;
    const auto start = std::chrono::steady_clock::now();
    char* block = static_cast<char*>(::operator new (bytes, std::align_val_t{size_t{2} << 20}));
    if (hugePages) {
        madvise(block, bytes, MADV_HUGEPAGE);
    }
    for (size_t i = 0; i < bytes; i += 4096) {
        block[i] = 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string line;
    std::string huge = "unknown";
    std::ifstream rollup("/proc/self/smaps_rollup");
    while (std::getline(rollup, line)) {
        if (line.rfind("AnonHugePages:", 0) == 0) {
            huge = line.substr(14);
        }
    }
    std::printf("%zu MB touched in %.4f s (%.2f ms per MB); huge pages:%s\n", megabytes, seconds,
                seconds * 1000.0 / static_cast<double>(megabytes), huge.c_str());
    ::operator delete (block, std::align_val_t{size_t{2} << 20});
    return 0;
}
