// Benchmark: the time to put one entry at the head of logs of 4 KiB, 1 MiB
// and 16 MiB, beside two plain ways of moving the same bytes directly on the
// host: a read and rewrite in place (open, read all, write all with the line
// in front, close), which is what any prepend must at least cost, and a read
// and replace (read all, write all with the line in front to a new file,
// rename it over the old one), which is what a prepend that no fault or kill
// can damage must at least cost. All go to the same real files; the entry
// goes through the simulated PC's file services, which call the host's.
// None waits for the disk: the simulated flush does not sync, so the plain
// ways do not either, and the figures are the cost of moving the bytes.
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

// The same bytes moved to a new file that then replaces the old one.
void PlainReplace(const std::string& path, std::size_t lineLength)
{
    const int file = open(path.c_str(), O_RDONLY);
    if (file < 0) {
        std::perror("open");
        std::exit(1);
    }
    const off_t size = lseek(file, 0, SEEK_END);
    std::string block(lineLength, 'L');
    block.resize(lineLength + static_cast<std::size_t>(size));
    if (pread(file, block.data() + lineLength, static_cast<std::size_t>(size), 0) != size) {
        std::perror("read");
        std::exit(1);
    }
    close(file);
    const std::string newPath = path + ".plain";
    const int replacement = open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (replacement < 0 ||
        write(replacement, block.data(), block.size()) != static_cast<ssize_t>(block.size()) ||
        close(replacement) != 0 || rename(newPath.c_str(), path.c_str()) != 0) {
        std::perror("replace");
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 15;
    std::printf("%-8s %12s %14s %8s %14s %8s\n", "log", "entry (ms)", "rewrite (ms)", "ratio",
                "replace (ms)", "ratio");
    for (std::size_t size : {std::size_t{4} << 10, std::size_t{1} << 20, std::size_t{16} << 20}) {
        sim::SimPc pc;
        pc.SetUtcTime(7, 5, 9);
        const std::string contents(size, 'x');
        const std::string path = pc.Folder() + "/" + LOG_FILE_NAME;
        std::vector<double> entryMs;
        std::vector<double> rewriteMs;
        std::vector<double> replaceMs;
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

            pc.WriteFileBytes(LOG_FILE_NAME, contents);
            const auto replaceStart = Clock::now();
            PlainReplace(path, 21);
            replaceMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - replaceStart).count());
        }
        const double entry = Median(entryMs);
        const double rewrite = Median(rewriteMs);
        const double replace = Median(replaceMs);
        std::printf("%-8s %12.3f %14.3f %8.2f %14.3f %8.2f\n",
                    size < (1U << 20) ? "4 KiB" : (size == (1U << 20) ? "1 MiB" : "16 MiB"), entry,
                    rewrite, entry / rewrite, replace, entry / replace);
    }
    return 0;
}
