// A vector that keeps up to N elements inline and moves to the heap only beyond that. For
// trivially copyable elements only (pointers, small records).
#ifndef KD_PL_SMALL_VECTOR_H
#define KD_PL_SMALL_VECTOR_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

template <class T, std::size_t N>
class PLSmallVector {
    static_assert(std::is_trivially_copyable_v<T>, "PLSmallVector holds trivially copyable elements");

public:
    PLSmallVector() noexcept = default;
    PLSmallVector(const PLSmallVector&) = delete;
    PLSmallVector& operator=(const PLSmallVector&) = delete;

    void push_back(const T& value) {
        if (m_size == m_capacity) Grow();
        data()[m_size++] = value;
    }
    void reserve(std::size_t n) {
        while (m_capacity < n) Grow();
    }
    void clear() noexcept { m_size = 0; }
    std::size_t size() const noexcept { return m_size; }
    std::size_t capacity() const noexcept { return m_capacity; }
    bool empty() const noexcept { return m_size == 0; }
    bool on_heap() const noexcept { return m_heap != nullptr; }
    T* data() noexcept { return m_heap ? m_heap.get() : m_inline; }
    const T* data() const noexcept { return m_heap ? m_heap.get() : m_inline; }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + m_size; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + m_size; }
    T& operator[](std::size_t i) noexcept { return data()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }

private:
    void Grow() {
        const std::size_t capacity = m_capacity * 2;
        std::unique_ptr<T[]> heap(new T[capacity]);
        std::memcpy(static_cast<void*>(heap.get()), data(), m_size * sizeof(T));
        m_heap = std::move(heap);
        m_capacity = capacity;
    }

    T m_inline[N];
    std::unique_ptr<T[]> m_heap;
    std::size_t m_size = 0;
    std::size_t m_capacity = N;
};

#endif  // KD_PL_SMALL_VECTOR_H
