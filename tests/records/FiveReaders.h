#pragma once
// Five readers at once on one list: threads that each hold a read guard, start together and
// repeat look-ups whose answers one thread took alone first.
#include "ListLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvotest {

// ask(q) answers query q; queries [0, present) look for keys that exist. Takes every answer on
// this thread, runs between() (a writer's step), then has five readers, each holding a read
// guard on lock, ask every query `rounds` times from their own place in the queries, and
// expects every answer of theirs to equal the first one.
template <typename Answer>
void ExpectFiveReadersAgree(Tallis::ImageUpdate::ListLock& lock, std::size_t present, std::size_t queries,
                            const std::function<Answer(std::size_t)>& ask, int rounds,
                            const std::function<void()>& between = {})
{
    constexpr int kReaders = Tallis::ImageUpdate::ListLock::kReaderUnits;
    std::vector<Answer> alone;
    for (std::size_t q = 0; q < queries; ++q) {
        alone.push_back(ask(q));
        EXPECT_EQ(alone.back() != Answer{}, q < present) << "query " << q;
    }
    if (between)
        between();
    std::atomic<int> holding{0};
    std::atomic<int> apart{0};
    std::atomic<int> wrong{0};
    std::mutex firstWrongLock;
    std::string firstWrong;
    const auto note = [&](int reader, int round, std::size_t q, const Answer& answer) {
        const std::lock_guard<std::mutex> guard(firstWrongLock);
        if (firstWrong.empty())
            firstWrong = "first: reader " + std::to_string(reader) + ", round " + std::to_string(round) + ", query " +
                         std::to_string(q) + " answered " + ::testing::PrintToString(answer) + " instead of " +
                         ::testing::PrintToString(alone[q]);
    };
    std::vector<std::thread> readers;
    for (int t = 0; t < kReaders; ++t) {
        readers.emplace_back([&, t] {
            const Tallis::ImageUpdate::ListLock::ReadGuard read(lock);
            ++holding;
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (holding.load() < kReaders && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::yield();
            apart += holding.load() < kReaders ? 1 : 0;
            for (int round = 0; round < rounds; ++round) {
                for (std::size_t i = 0; i < queries; ++i) {
                    const std::size_t q = (std::size_t(t) * queries / kReaders + i) % queries;
                    const Answer answer = ask(q);
                    if (!(answer == alone[q])) {
                        ++wrong;
                        note(t, round, q, answer);
                    }
                }
            }
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(apart.load(), 0) << "readers that did not hold the lock together with four others";
    EXPECT_EQ(wrong.load(), 0) << "of " << kReaders * rounds * int(queries) << " answers of five readers; "
                               << firstWrong;
}

} // namespace kvotest
