// Who runs next on the simulated PC: the policies that the scheduler asks
// at each point where more than one thread could run.
//
// Without a policy the scheduler runs one thread until it blocks and takes
// ready threads in the order they became ready. With one, it also stops at
// every service call (before the call acts and again after it) whenever
// another thread is ready, and lets the policy decide whether the running
// thread goes on or another one takes over. Only the choice lives here; the
// mechanism that carries it out is the scheduler's (sim_scheduler.cpp).
//
// Two policies explore the orders that a real PC could take:
//   - BoundedSearch enumerates, one run after another, every schedule with
//     at most a given number of preemptions (switches away from a thread
//     that could have gone on), as preemption-bounded model checkers do;
//   - RandomPriorities draws one schedule per seed: random priorities, the
//     highest ready one runs, and at a few random points the running thread
//     drops to the lowest priority (probabilistic concurrency testing).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

class SchedulePolicy {
public:
    virtual ~SchedulePolicy() = default;
    // options are the threads that may run, by serial number. When
    // preemptive, options[0] is the running thread, which could go on, and
    // choosing any other one preempts it; otherwise the running thread has
    // blocked or ended and the choice is free. Returns an index into options.
    virtual std::size_t Choose(const std::vector<int>& options, bool preemptive) = 0;
};

// Depth-first enumeration of the schedules with at most maxPreemptions
// preemptions. Each run replays the choices of the previous one up to its
// last open choice, takes the next alternative there, and goes on with the
// first alternative (no switch) from then on.
class BoundedSearch : public SchedulePolicy {
public:
    explicit BoundedSearch(int maxPreemptions);
    std::size_t Choose(const std::vector<int>& options, bool preemptive) override;
    // Moves to the next schedule after a run; false when every one has run.
    bool NextSchedule();
    // The current schedule's choices, as dot-separated indexes ("0.1.0"),
    // for a report that lets a failing schedule be found again.
    std::string Describe() const;
    // Whether a replayed choice point offered other options than in the run
    // it replays: the system under test is not deterministic, and the
    // enumeration is not to be trusted.
    bool Diverged() const { return diverged_; }

private:
    struct Choice {
        std::size_t chosen;
        std::size_t count;
        bool preemptive;
        std::vector<int> options;
    };
    int maxPreemptions_;
    std::vector<Choice> path_;
    std::size_t depth_ = 0;
    bool diverged_ = false;
};

class RandomPriorities : public SchedulePolicy {
public:
    // changePoints is PCT's d - 1; the points are drawn among the first
    // expectedSteps choice points of a run.
    RandomPriorities(std::uint64_t seed, int changePoints, int expectedSteps);
    std::size_t Choose(const std::vector<int>& options, bool preemptive) override;

private:
    int Priority(int thread);
    std::mt19937_64 random_;
    std::vector<int> changeSteps_;
    std::vector<std::pair<int, int>> priorities_; // thread serial, priority
    int step_ = 0;
    int nextLow_;
};

} // namespace sim
