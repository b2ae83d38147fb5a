#include "platform/AppendOnlyMap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using kd::platform::AppendOnlyMap;

TEST(AppendOnlyMapTest, KeepsTheFirstValueOfAKeyAndNothingPastItsCapacity) {
    AppendOnlyMap<int, std::string, 2> map;
    EXPECT_EQ(*map.Add(1, "one"), "one");
    EXPECT_EQ(*map.Add(1, "uno"), "one");  // the value kept before
    EXPECT_EQ(*map.Add(2, "two"), "two");
    EXPECT_EQ(map.Add(3, "three"), nullptr);
    EXPECT_EQ(map.Find(3), nullptr);
    EXPECT_EQ(*map.Find(1), "one");
    EXPECT_EQ(*map.Find(2), "two");
}

// Threads look keys up, without a lock, while others add them: a key found has its whole value.
TEST(AppendOnlyMapTest, LookupsBesideInsertionsSeeWholeEntries) {
    constexpr int kWriters = 2, kReaders = 2, kKeys = 64;
    AppendOnlyMap<int, std::string, kKeys> map;
    std::atomic<int> wrong{0}, writing{kWriters};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int key = w; key < kKeys; key += kWriters)
                if (map.Add(key, std::to_string(key)) == nullptr) ++wrong;
            --writing;
        });
    }
    const auto lookUpAll = [&] {
        for (int key = 0; key < kKeys; ++key) {
            const std::string* value = map.Find(key);
            if (value != nullptr && *value != std::to_string(key)) ++wrong;
        }
    };
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
            do lookUpAll();
            while (writing.load() > 0);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    for (int key = 0; key < kKeys; ++key) EXPECT_NE(map.Find(key), nullptr) << key;
}

}  // namespace
