// The scheduling policies of the simulated PC: the bounded enumeration and
// the random priorities. See sim_policy.h.
#include "sim_policy.h"

#include <algorithm>

namespace sim {

BoundedSearch::BoundedSearch(int maxPreemptions) : maxPreemptions_(maxPreemptions) {}

std::size_t BoundedSearch::Choose(const std::vector<int>& options, bool preemptive)
{
    if (depth_ < path_.size()) {
        Choice& replayed = path_[depth_++];
        if (replayed.options != options || replayed.preemptive != preemptive) {
            diverged_ = true;
            return 0;
        }
        return replayed.chosen;
    }
    int used = 0;
    for (const Choice& choice : path_) {
        used += choice.preemptive && choice.chosen != 0 ? 1 : 0;
    }
    // With the budget spent, a preemptive point has one way on: no switch.
    const std::size_t count = preemptive && used >= maxPreemptions_ ? 1 : options.size();
    path_.push_back(Choice{0, count, preemptive, options});
    ++depth_;
    return 0;
}

bool BoundedSearch::NextSchedule()
{
    depth_ = 0;
    while (!path_.empty() && path_.back().chosen + 1 >= path_.back().count) {
        path_.pop_back();
    }
    if (path_.empty()) {
        return false;
    }
    ++path_.back().chosen;
    return true;
}

std::string BoundedSearch::Describe() const
{
    std::string text;
    for (const Choice& choice : path_) {
        text += (text.empty() ? "" : ".") + std::to_string(choice.chosen);
    }
    return text.empty() ? "(no choice)" : text;
}

RandomPriorities::RandomPriorities(std::uint64_t seed, int changePoints, int expectedSteps)
    : random_(seed), nextLow_(changePoints)
{
    std::uniform_int_distribution<int> step(1, std::max(1, expectedSteps));
    for (int i = 0; i < changePoints; ++i) {
        changeSteps_.push_back(step(random_));
    }
}

int RandomPriorities::Priority(int thread)
{
    for (const auto& [serial, priority] : priorities_) {
        if (serial == thread) {
            return priority;
        }
    }
    // Above every change point's priority, so a thread that has not been
    // lowered always outranks one that has.
    const int priority = static_cast<int>(changeSteps_.size()) + 1 +
                         std::uniform_int_distribution<int>(0, 1 << 20)(random_);
    priorities_.emplace_back(thread, priority);
    return priority;
}

std::size_t RandomPriorities::Choose(const std::vector<int>& options, bool preemptive)
{
    ++step_;
    if (preemptive &&
        std::find(changeSteps_.begin(), changeSteps_.end(), step_) != changeSteps_.end()) {
        Priority(options[0]);
        for (auto& [serial, priority] : priorities_) {
            if (serial == options[0]) {
                priority = nextLow_--;
            }
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < options.size(); ++i) {
        if (Priority(options[i]) > Priority(options[best])) {
            best = i;
        }
    }
    return best;
}

} // namespace sim
