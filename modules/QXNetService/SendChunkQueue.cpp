#include "modules/QXNetService/SendChunkQueue.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <utility>

CSendChunkQueue::~CSendChunkQueue() { Clear(); }

void CSendChunkQueue::Swap(CSendChunkQueue& other) noexcept {
    m_Chunks.swap(other.m_Chunks);
    std::swap(m_FrontRead, other.m_FrontRead);
    std::swap(m_BackUsed, other.m_BackUsed);
    std::swap(m_Bytes, other.m_Bytes);
    m_Lengths.swap(other.m_Lengths);
    std::swap(m_FrontMessageDone, other.m_FrontMessageDone);
}

char* CSendChunkQueue::MapChunk() {
    // Mapped directly rather than taken from the heap: the allocator would
    // keep freed chunks in the middle of its arena resident for ever.
    void* pages = ::mmap(nullptr, kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<char*>(pages);
}

void CSendChunkQueue::UnmapChunk(char* chunk) { ::munmap(chunk, kChunkBytes); }

bool CSendChunkQueue::Append(const char* data, size_t len) {
    if (len == 0) return true;
    if (len > UINT32_MAX) return false;
    // Map every chunk the message needs first, so a failure leaves nothing half queued.
    const size_t room = kChunkBytes - m_BackUsed;
    const size_t needed = len > room ? (len - room + kChunkBytes - 1) / kChunkBytes : 0;
    std::vector<char*> fresh;
    fresh.reserve(needed);
    for (size_t i = 0; i < needed; ++i) {
        char* chunk = MapChunk();
        if (chunk == nullptr) {
            for (char* mapped : fresh) UnmapChunk(mapped);
            return false;
        }
        fresh.push_back(chunk);
    }
    size_t offset = 0;
    size_t next = 0;
    while (offset < len) {
        if (m_BackUsed == kChunkBytes) {
            m_Chunks.push_back(fresh[next++]);
            m_BackUsed = 0;
        }
        const size_t part = std::min(len - offset, kChunkBytes - m_BackUsed);
        std::memcpy(m_Chunks.back() + m_BackUsed, data + offset, part);
        m_BackUsed += part;
        offset += part;
    }
    m_Bytes += len;
    m_Lengths.push_back(static_cast<uint32_t>(len));
    return true;
}

size_t CSendChunkQueue::Gather(std::vector<asio::const_buffer>& buffers, size_t maxBuffers, size_t maxBytes) const {
    buffers.clear();
    size_t total = 0;
    for (size_t i = 0; i < m_Chunks.size(); ++i) {
        if (buffers.size() >= maxBuffers || total >= maxBytes) break;
        const size_t begin = i == 0 ? m_FrontRead : 0;
        const size_t end = i + 1 == m_Chunks.size() ? m_BackUsed : kChunkBytes;
        if (end <= begin) continue;
        const size_t len = std::min(end - begin, maxBytes - total);
        buffers.emplace_back(m_Chunks[i] + begin, len);
        total += len;
    }
    return total;
}

void CSendChunkQueue::DropFrontChunk() {
    UnmapChunk(m_Chunks.front());
    m_Chunks.pop_front();
    m_FrontRead = 0;
    if (m_Chunks.empty()) m_BackUsed = kChunkBytes;
}

size_t CSendChunkQueue::Consume(size_t bytes) {
    bytes = static_cast<size_t>(std::min<uint64_t>(bytes, m_Bytes));
    m_Bytes -= bytes;
    // Chunks: every one read to its end goes back to the system at once.
    size_t left = bytes;
    while (left > 0 && !m_Chunks.empty()) {
        const size_t end = m_Chunks.size() == 1 ? m_BackUsed : kChunkBytes;
        const size_t part = std::min(left, end - m_FrontRead);
        m_FrontRead += part;
        left -= part;
        if (m_FrontRead == kChunkBytes) {
            DropFrontChunk();
        } else if (m_Chunks.size() == 1 && m_FrontRead == m_BackUsed) {
            // Drained. A chunk of which little was touched is reused from its
            // start, so a connection that queues a few KB now and then does
            // not map and unmap each time; one that queued much lets it go.
            if (m_BackUsed <= kKeepTouchedBytes) {
                m_FrontRead = 0;
                m_BackUsed = 0;
            } else {
                DropFrontChunk();
            }
            break;
        }
    }
    // Messages: count those now written completely.
    size_t completed = 0;
    left = bytes;
    while (left > 0 && !m_Lengths.empty()) {
        const size_t rest = m_Lengths.front() - m_FrontMessageDone;
        if (left < rest) {
            m_FrontMessageDone += left;
            break;
        }
        left -= rest;
        m_Lengths.pop_front();
        m_FrontMessageDone = 0;
        ++completed;
    }
    return completed;
}

void CSendChunkQueue::Clear() {
    for (char* chunk : m_Chunks) UnmapChunk(chunk);
    m_Chunks.clear();
    m_FrontRead = 0;
    m_BackUsed = kChunkBytes;
    m_Bytes = 0;
    m_Lengths.clear();
    m_FrontMessageDone = 0;
}
