#include "platform/AppendOnlyMap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Threads look keys up, without a lock, while others add them: a key found has its whole value.
// Then the map is full: a key added again keeps its first value, and a new one is not kept.
TEST(AppendOnlyMapTest, LookupsBesideInsertionsSeeWholeEntriesUpToTheCapacity) {
    constexpr int kWriters = 2, kReaders = 2, kKeys = 64;
    kd::platform::AppendOnlyMap<int, std::string, kKeys> map;
    std::atomic<int> wrong{0}, writing{kWriters};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int key = w; key < kKeys; key += kWriters)
                if (map.Add(key, std::to_string(key)) == nullptr) ++wrong;
            --writing;
        });
    for (int r = 0; r < kReaders; ++r)
        threads.emplace_back([&] {
            do {
                for (int key = 0; key < kKeys; ++key)
                    if (const std::string* value = map.Find(key); value != nullptr && *value != std::to_string(key))
                        ++wrong;
            } while (writing.load() > 0);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(*map.Add(7, "seven"), "7");
    EXPECT_EQ(map.Add(kKeys, "one too many"), nullptr);
    EXPECT_EQ(map.Find(kKeys), nullptr);
}

}  // namespace
