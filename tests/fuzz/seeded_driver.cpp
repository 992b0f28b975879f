// A stand-in for libFuzzer's driver where the compiler has none: feeds the
// fuzz target seeded random inputs up to 32 KiB, biased towards the bytes and
// lengths that matter (quotes, backslashes, NULs, the 250-260 boundary).
// Usage: fuzz_companion_command [runs] [seed]. The seed is fixed unless given
// ("random" draws one), so that every run of the suite feeds the same inputs;
// it is printed either way, so that a failing run can be repeated.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    const unsigned long runs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    constexpr unsigned long DEFAULT_SEED = 20261211;
    unsigned long seed = DEFAULT_SEED;
    if (argc > 2) {
        seed = std::string(argv[2]) == "random" ? std::random_device{}()
                                                : std::strtoul(argv[2], nullptr, 10);
    }
    std::printf("seed %lu, %lu runs\n", seed, runs);
    std::fflush(stdout);
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    const std::uint8_t interesting[] = {'"', '\\', 0, 'a', 0x81, 0xFF, ' '};
    std::vector<std::uint8_t> input;
    for (unsigned long run = 0; run < runs; ++run) {
        std::size_t size;
        switch (random() % 4) {
        case 0:
            size = random() % 16;
            break;
        case 1:
            size = 240 + random() % 30;
            break;
        case 2:
            size = random() % 600;
            break;
        default:
            size = random() % (32 * 1024 + 1);
            break;
        }
        input.resize(size);
        for (std::uint8_t& byte : input) {
            byte = (random() % 3 == 0) ? interesting[random() % sizeof(interesting)]
                                       : static_cast<std::uint8_t>(random());
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%lu inputs, no fault\n", runs);
    return 0;
}
