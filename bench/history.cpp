// The history's budgets (bench/RESULTS.md, "Time travel"): the K16 program
// running bench/compute.mdat for STEPS steps (default 10^9) recorded by
// k3_run in slices, against the same slices run without recording (the run
// loop alone, as the console's Run), alternately; then the history's memory,
// seeks to random steps, and reverse questions from the end.
//
//   kalvo3-history-bench [STEPS [SEEKS]]   (run from the source tree's root,
//                                           or with KALVO3_ROOT set)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "api/kalvo3_api.h"
#include "core/machine_state.hpp"
#include "core/stepping.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// CPU seconds of the process: on a loaded machine, nearer an idle one's
// wall clock than the wall clock is.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

std::string read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        exit(1);
    }
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void assemble_and_load(const std::string &path, int data)
{
    if (k3_assemble(path.c_str(), read_file(path).c_str(), data) != 0) {
        fprintf(stderr, "%s", k3_assembly_messages());
        exit(1);
    }
    k3_load_text(k3_assembly_load_file());
}

void set_up(const std::string &root)
{
    k3_power_on();
    assemble_and_load(root + "/examples/k16/k16.masm", 0);
    assemble_and_load(root + "/bench/compute.mdat", 1);
    k3_set(k3_register("CMAR"), 0);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long resident_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
    return 0;
}

// Asks a question from the end: to its answer, or over at most `span` steps,
// which then says only how many steps it replayed.
constexpr uint64_t TO_THE_ANSWER = UINT64_MAX;
void ask(int kind, uint32_t what, const char *name, uint64_t span = TO_THE_ANSWER)
{
    const auto start = clock_type::now();
    const double cpu = cpu_seconds();
    k3_find_start(kind, what);
    char answer[64] = "";
    if (span != TO_THE_ANSWER) {
        uint64_t searched = 0;
        while (searched < span && k3_find_continue(span - searched) == K3_FIND_RUNNING) searched = k3_find_searched();
    } else {
        int status;
        while ((status = k3_find_continue(50'000'000)) == K3_FIND_RUNNING) {}
        snprintf(answer, sizeof answer, "%s at step %llu, ", status == K3_FIND_FOUND ? "found" : "none",
                 static_cast<unsigned long long>(k3_find_step()));
    }
    const double took = seconds_since(start), took_cpu = cpu_seconds() - cpu;
    printf("question %-28s %s%llu steps replayed, %.3f s, CPU %.3f s (%.1f M steps/s)\n", name, answer,
           static_cast<unsigned long long>(k3_find_searched()), took, took_cpu, k3_find_searched() / took_cpu / 1e6);
}

}   // namespace

int main(int argc, char **argv)
{
    const uint64_t steps = argc > 1 ? strtoull(argv[1], nullptr, 0) : 1'000'000'000;
    const int seeks = argc > 2 ? atoi(argv[2]) : 40;
    const char *root_env = getenv("KALVO3_ROOT");
    const std::string root = root_env ? root_env : ".";
    printf("kalvo3 history benchmark: %llu steps of K16 compute; load %s", static_cast<unsigned long long>(steps),
           read_file("/proc/loadavg").c_str());

    // Recording against not recording, slice by slice: the unrecorded
    // machine waits in `plain` while the recorded one runs, and back.
    static MachineState plain;
    set_up(root);
    memcpy(&plain, &M, sizeof M);
    set_up(root);
    const uint64_t slice = std::min<uint64_t>(100'000'000, steps);
    std::vector<double> ratios;
    double recorded_total = 0, plain_total = 0;
    static MachineState recorded;
    for (uint64_t done = 0; done < steps; done += slice) {
        const uint64_t n = std::min(slice, steps - done);
        auto start = clock_type::now();
        k3_run(static_cast<uint32_t>(n), 0);
        const double with = seconds_since(start);
        memcpy(&recorded, &M, sizeof M);
        memcpy(&M, &plain, sizeof M);
        start = clock_type::now();
        M.stop_flag = 0;
        run_steps(n);
        const double without = seconds_since(start);
        memcpy(&plain, &M, sizeof M);
        memcpy(&M, &recorded, sizeof M);
        ratios.push_back(with / without);
        recorded_total += with, plain_total += without;
    }
    printf("record   %llu steps: %.2f s recorded, %.2f s not (%.1f / %.1f M steps/s); "
           "recorded / not, median of %zu slices: %.3f (from %.3f to %.3f)\n",
           static_cast<unsigned long long>(steps), recorded_total, plain_total, steps / recorded_total / 1e6,
           steps / plain_total / 1e6, ratios.size(), median(ratios), *std::min_element(ratios.begin(), ratios.end()),
           *std::max_element(ratios.begin(), ratios.end()));
    printf("memory   history %.2f MiB (k3_history_memory), process resident %.1f MiB\n",
           k3_history_memory() / 1048576.0, resident_kib() / 1024.0);

    // Seeks: random steps, then the worst place, one step before a snapshot.
    const uint64_t end = k3_history_end();
    std::mt19937_64 rng(27);
    std::vector<double> times, cpu_times;
    for (int i = 0; i < seeks; i++) {
        const uint64_t target = rng() % (end + 1);
        const auto start = clock_type::now();
        const double cpu = cpu_seconds();
        if (k3_seek(target) != 1) return 1;
        times.push_back(seconds_since(start));
        cpu_times.push_back(cpu_seconds() - cpu);
    }
    printf("seek     %d random steps of %llu: median %.1f ms, longest %.1f ms; CPU median %.1f ms, longest %.1f ms\n",
           seeks, static_cast<unsigned long long>(end), median(times) * 1e3,
           *std::max_element(times.begin(), times.end()) * 1e3, median(cpu_times) * 1e3,
           *std::max_element(cpu_times.begin(), cpu_times.end()) * 1e3);
    k3_seek(end);

    // Questions from the end: scans of 10^8 steps that find nothing (the
    // longest an answer within them can take), then real ones.
    const uint64_t span = std::min<uint64_t>(100'000'000, end);
    ask(K3_FIND_ADDRESS, 0xFFFFFFFFu, "an address never reached", span);
    ask(K3_FIND_MM_WORD, 0x2000, "MM 2000, never written", span);
    ask(K3_FIND_REGISTER, static_cast<uint32_t>(k3_register("R7")), "R7, never written", span);
    ask(K3_FIND_REGISTER, static_cast<uint32_t>(k3_register("S7")), "S7, never written", span);
    ask(K3_FIND_REGISTER, static_cast<uint32_t>(k3_register("T")), "T, never set", span);
    ask(K3_FIND_REGISTER, static_cast<uint32_t>(k3_register("CZ")), "CZ (a micro-cycle at a time)", span);
    ask(K3_FIND_REGISTER, static_cast<uint32_t>(k3_register("R3")), "R3 last changed");
    ask(K3_FIND_MM_WORD, 0x0040, "MM 0040 last changed");
    ask(K3_FIND_ADDRESS, 0, "CMAR last 000 (run back)");
    return 0;
}
