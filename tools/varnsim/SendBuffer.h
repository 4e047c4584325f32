// SendBuffer: a growable byte area that outgoing frames are built in place
// in. Clear keeps the memory, so after the first batches a connection sends
// without allocating. Used by one SimConnection on the event loop.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace varnsim {

class SendBuffer {
public:
    SendBuffer() = default;
    SendBuffer(const SendBuffer&) = delete;
    SendBuffer& operator=(const SendBuffer&) = delete;

    // Room for `len` more bytes at the end, counted as used; the caller fills it.
    char* Extend(size_t len) {
        if (m_Size + len > m_Capacity) Grow(m_Size + len);
        char* area = m_Data.get() + m_Size;
        m_Size += len;
        return area;
    }
    void Clear() { m_Size = 0; }
    const char* Data() const { return m_Data.get(); }
    size_t Size() const { return m_Size; }
    bool Empty() const { return m_Size == 0; }
    void Swap(SendBuffer& other) noexcept {
        m_Data.swap(other.m_Data);
        std::swap(m_Size, other.m_Size);
        std::swap(m_Capacity, other.m_Capacity);
    }

private:
    void Grow(size_t needed) {
        size_t capacity = m_Capacity == 0 ? 64 * 1024 : m_Capacity;
        while (capacity < needed) capacity *= 2;
        // Not zero-filled: every byte is written before it is sent.
        std::unique_ptr<char[]> data(new char[capacity]);
        if (m_Size > 0) std::memcpy(data.get(), m_Data.get(), m_Size);
        m_Data = std::move(data);
        m_Capacity = capacity;
    }

    std::unique_ptr<char[]> m_Data;
    size_t m_Size = 0;
    size_t m_Capacity = 0;
};

}  // namespace varnsim
