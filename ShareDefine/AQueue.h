// AQueue<T>: an unbounded FIFO of T* (pushed at the back, popped at the
// front). It owns nothing it holds and takes no lock: CThreadQueue wraps it
// with one.
#pragma once

#include <deque>

template <typename T>
class AQueue {
public:
    void Push(T* item) { m_Items.push_back(item); }
    // Removes the front pointer into *item; false when empty.
    bool Pop(T** item) {
        if (m_Items.empty()) return false;
        *item = m_Items.front();
        m_Items.pop_front();
        return true;
    }
    // Null when empty (a queued null looks the same).
    T* Front() const { return m_Items.empty() ? nullptr : m_Items.front(); }
    int Count() const { return static_cast<int>(m_Items.size()); }
    bool Empty() const { return m_Items.empty(); }
    void Swap(AQueue& other) noexcept { m_Items.swap(other.m_Items); }

private:
    std::deque<T*> m_Items;
};
