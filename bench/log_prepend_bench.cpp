// Benchmark: the time to put one entry at the head of logs of 4 KiB, 1 MiB
// and 16 MiB, beside the time of a plain read and rewrite of the same bytes
// (open, read all, write all with the line in front, close) done directly on
// the host. Both go to the same real files; the entry goes through the
// simulated PC's file services, which call the host's. Neither waits for the
// disk: the simulated flush does not sync, so the plain rewrite does not
// either, and both figures are the cost of moving the bytes.
// Prints figures only: the machines are shared, so nothing is asserted.
// Usage: log_prepend_bench [repetitions]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/supervisor_state.h"
#include "eventlog/event_log.h"
#include "sim_pc.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The same bytes moved by hand: what any prepend must at least cost.
void PlainRewrite(const std::string& path, std::size_t lineLength)
{
    const int file = open(path.c_str(), O_RDWR);
    if (file < 0) {
        std::perror("open");
        std::exit(1);
    }
    const off_t size = lseek(file, 0, SEEK_END);
    std::string block(lineLength, 'L');
    block.resize(lineLength + static_cast<std::size_t>(size));
    if (pread(file, block.data() + lineLength, static_cast<std::size_t>(size), 0) != size ||
        pwrite(file, block.data(), block.size(), 0) != static_cast<ssize_t>(block.size())) {
        std::perror("rewrite");
        std::exit(1);
    }
    close(file);
}

} // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 15;
    std::printf("%-8s %14s %14s %8s\n", "log", "entry (ms)", "rewrite (ms)", "ratio");
    for (std::size_t size : {std::size_t{4} << 10, std::size_t{1} << 20, std::size_t{16} << 20}) {
        sim::SimPc pc;
        pc.SetUtcTime(7, 5, 9);
        const std::string contents(size, 'x');
        const std::string path = pc.Folder() + "/" + LOG_FILE_NAME;
        std::vector<double> entryMs;
        std::vector<double> rewriteMs;
        for (int i = 0; i < repetitions; ++i) {
            pc.WriteFileBytes(LOG_FILE_NAME, contents);
            double elapsedMs = 0;
            const int program = pc.StartProgram([&elapsedMs] {
                const auto start = Clock::now();
                WriteLogEntry("WAKEUP");
                elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                return 0;
            });
            pc.RunToExit(program, 1000);
            entryMs.push_back(elapsedMs);

            pc.WriteFileBytes(LOG_FILE_NAME, contents);
            const auto start = Clock::now();
            PlainRewrite(path, 21);
            rewriteMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        const double entry = Median(entryMs);
        const double rewrite = Median(rewriteMs);
        std::printf("%-8s %14.3f %14.3f %8.2f\n",
                    size < (1U << 20) ? "4 KiB" : (size == (1U << 20) ? "1 MiB" : "16 MiB"), entry,
                    rewrite, entry / rewrite);
    }
    return 0;
}
