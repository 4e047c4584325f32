// AList<T>: the growable list of pointers shared across the server. When it
// owns its items, Clear() and the destructor delete them. Capacity starts at
// the given value (at least 1) and doubles whenever an add finds it full.
// Not locked: each user guards it itself or keeps it on one thread.
#pragma once

#include <algorithm>
#include <memory>

template <typename T>
class AList {
public:
    explicit AList(bool ownsItems, int capacity = 10)
        : m_OwnsItems(ownsItems), m_Capacity(std::max(capacity, 1)), m_Items(new T*[m_Capacity]()) {}
    ~AList() { Clear(); }
    AList(const AList&) = delete;
    AList& operator=(const AList&) = delete;

    int Count() const { return m_Count; }
    int Capacity() const { return m_Capacity; }
    bool OwnsItems() const { return m_OwnsItems; }

    void Add(T* item) { Insert(m_Count, item); }

    // Inserts at index (clamped to 0..Count), moving the tail up by one.
    void Insert(int index, T* item) {
        if (m_Count == m_Capacity) Grow();
        index = std::clamp(index, 0, m_Count);
        std::move_backward(m_Items.get() + index, m_Items.get() + m_Count, m_Items.get() + m_Count + 1);
        m_Items[index] = item;
        ++m_Count;
    }

    // nullptr outside 0..Count-1.
    T* Get(int index) const { return (index >= 0 && index < m_Count) ? m_Items[index] : nullptr; }
    T* operator[](int index) const { return Get(index); }

    void Clear() {
        if (m_OwnsItems) {
            for (int i = 0; i < m_Count; ++i) delete m_Items[i];
        }
        std::fill(m_Items.get(), m_Items.get() + m_Count, nullptr);
        m_Count = 0;
    }

    T** begin() const { return m_Items.get(); }
    T** end() const { return m_Items.get() + m_Count; }

private:
    void Grow() {
        const int newCapacity = m_Capacity * 2;
        std::unique_ptr<T*[]> grown(new T*[newCapacity]());
        std::copy(m_Items.get(), m_Items.get() + m_Count, grown.get());
        m_Items = std::move(grown);
        m_Capacity = newCapacity;
    }

    const bool m_OwnsItems;
    int m_Count = 0;
    int m_Capacity;
    std::unique_ptr<T*[]> m_Items;
};
