#pragma once
// Seeded robustness runs for record stream readers: thousands of truncated and corrupted
// variants of a valid stream are fed to a load function, which must answer 0 or -1 each time
// (and must not crash). Reusable by every record type: pass its own valid stream and loader.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace kvotest {

struct MutationReport {
    int runs = 0;
    int succeeded = 0;  // load returned 0
    int failed = 0;     // load returned -1
    int unexpected = 0; // any other result
    std::string firstUnexpected; // the variant behind the first unexpected result
};

// Called with a binary stream positioned at the start of one variant; returns Load's result.
using StreamLoader = std::function<int(FILE* stream)>;

// Runs every truncation of valid (all lengths when the stream is short, else an even spread),
// then random variants until `variants` runs in all: 1 to 3 flipped bits, a 32-bit word
// overwritten with an extreme value (0, -1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, a small value),
// a random byte run, or a truncation combined with a flip.
[[nodiscard]] MutationReport RunStreamMutations(const std::string& valid, std::uint32_t seed, int variants,
                                                const StreamLoader& load);

} // namespace kvotest
