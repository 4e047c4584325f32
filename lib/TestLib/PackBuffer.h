// PackBufer: a fixed-capacity byte buffer that the send streams collect
// framed packets in, so several packets leave in one socket write. It holds
// at most capacity - 2 bytes. Used by one sending thread at a time.
#pragma once

#include <memory>

class PackBufer {
public:
    explicit PackBufer(int capacity);
    PackBufer(const PackBufer&) = delete;
    PackBufer& operator=(const PackBufer&) = delete;

    // False when used + len would reach capacity - 1; nothing is copied then.
    bool Append(const char* data, int len);
    void Clear();
    // Room for len more bytes at the end, under the same bound as Append;
    // null when they would not fit. Bytes written there count once Commit
    // is called, so a packet can be built in place instead of copied in.
    char* Tail(int len);
    void Commit(int len);

    const char* Data() const { return m_Storage.get(); }
    int Used() const { return m_Used; }
    int Capacity() const { return m_Capacity; }

private:
    static constexpr int kHugeCapacity = 65536;

    const int m_Capacity;
    std::unique_ptr<char[]> m_Storage;
    int m_Used = 0;
};
