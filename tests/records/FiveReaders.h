#pragma once
// Five readers at once on one list: threads that each hold a read guard, start together and
// repeat look-ups whose answers one thread took alone first.
#include "ListLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kvotest {

// ask(q) answers query q; queries [0, present) are keys that exist, the rest are absent ones.
// Takes every answer on this thread first, runs between() (a writer's step, e.g. one that
// drops a sorted view), then lets five readers, each holding a read guard on lock and started
// together, ask every query `rounds` times, each from its own place in the queries. Expects
// the readers to hold the lock together and every answer of theirs to equal the first one.
template <typename Answer>
void ExpectFiveReadersAgree(Tallis::ImageUpdate::ListLock& lock, std::size_t present, std::size_t queries,
                            const std::function<Answer(std::size_t)>& ask, int rounds,
                            const std::function<void()>& between = {})
{
    using namespace std::chrono_literals;
    constexpr int kReaders = Tallis::ImageUpdate::ListLock::kReaderUnits;
    std::vector<Answer> alone;
    for (std::size_t q = 0; q < queries; ++q) {
        alone.push_back(ask(q));
        // A harness that answers nothing, or everything, would agree with itself.
        EXPECT_EQ(alone.back() != Answer{}, q < present) << "query " << q;
    }
    if (between)
        between();
    std::atomic<int> holding{0};
    std::atomic<int> apart{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kReaders; ++t) {
        readers.emplace_back([&, t] {
            const Tallis::ImageUpdate::ListLock::ReadGuard read(lock);
            ++holding;
            const auto giveUp = std::chrono::steady_clock::now() + 10s;
            while (holding.load() < kReaders) {
                if (std::chrono::steady_clock::now() > giveUp) {
                    ++apart;
                    return;
                }
                std::this_thread::yield();
            }
            int mine = 0;
            const std::size_t start = std::size_t(t) * queries / kReaders;
            for (int round = 0; round < rounds; ++round) {
                for (std::size_t i = 0; i < queries; ++i) {
                    const std::size_t q = (start + i) % queries;
                    if (!(ask(q) == alone[q]))
                        ++mine;
                }
            }
            wrong += mine;
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(apart.load(), 0) << "five readers did not hold the lock together";
    EXPECT_EQ(wrong.load(), 0) << "of " << kReaders * rounds * int(queries) << " answers of five readers";
}

} // namespace kvotest
