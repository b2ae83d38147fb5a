// A small map for values that are a function of their key: entries, once added, are neither
// changed nor removed while the map lives, so nothing in it ever goes stale and a lookup takes no
// lock (it may run beside an insertion on another thread). Lookups walk the entries, newest
// first: meant for a few dozen keys at most. Holds at most `Capacity` entries; past that, `Add`
// keeps nothing and callers compute the value each time, so the map never grows without bound.
#ifndef KD_PLATFORM_APPEND_ONLY_MAP_H
#define KD_PLATFORM_APPEND_ONLY_MAP_H

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "platform/Mutex.h"

namespace kd::platform {

template <class Key, class Value, std::size_t Capacity>
class AppendOnlyMap {
public:
    AppendOnlyMap() = default;
    AppendOnlyMap(const AppendOnlyMap&) = delete;
    AppendOnlyMap& operator=(const AppendOnlyMap&) = delete;
    ~AppendOnlyMap() {
        const Node* node = m_head.load(std::memory_order_acquire);
        while (node != nullptr) delete std::exchange(node, node->next);
    }

    // The value kept for a key equal to `key`, or null. The value lives as long as the map.
    template <class K>
    const Value* Find(const K& key) const noexcept {
        for (const Node* node = m_head.load(std::memory_order_acquire); node != nullptr; node = node->next) {
            if (node->key == key) return &node->value;
        }
        return nullptr;
    }

    // Keeps `value` for `key` and returns the kept value: the one added before when another
    // thread added the key meanwhile, null when the map is full or memory ran out.
    const Value* Add(Key key, Value value) noexcept {
        LockGuard<Mutex> guard(m_lock);
        if (const Value* kept = Find(key)) return kept;
        if (m_count >= Capacity) return nullptr;
        const Node* node =
            new (std::nothrow) Node{m_head.load(std::memory_order_relaxed), std::move(key), std::move(value)};
        if (node == nullptr) return nullptr;
        ++m_count;
        m_head.store(node, std::memory_order_release);  // the entry is whole before it is seen
        return &node->value;
    }

private:
    struct Node {
        const Node* next;
        Key key;
        Value value;
    };
    std::atomic<const Node*> m_head{nullptr};
    Mutex m_lock;
    std::size_t m_count GUARDED_BY(m_lock) = 0;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_APPEND_ONLY_MAP_H
