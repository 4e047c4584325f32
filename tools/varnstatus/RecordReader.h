// RecordReader: a bounded little-endian cursor over one received record.
// Every read checks the bytes left first and fails (leaving the cursor where
// it was) instead of reading past the end, so decoders can stop at the first
// field that is cut off and keep what came before. Not thread-bound; one
// decoder uses one reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ShareDefine/WireBytes.h"

namespace varnstatus {

class RecordReader {
public:
    explicit RecordReader(const std::string& record) : m_Record(record) {}

    size_t Left() const { return m_Record.size() - m_At; }
    size_t Position() const { return m_At; }

    bool U8(uint8_t& value) {
        if (Left() < 1) return false;
        value = static_cast<uint8_t>(m_Record[m_At]);
        m_At += 1;
        return true;
    }
    bool U16(uint16_t& value) {
        if (Left() < 2) return false;
        value = wire::ReadLE16(m_Record.data() + m_At);
        m_At += 2;
        return true;
    }
    bool U32(uint32_t& value) {
        if (Left() < 4) return false;
        value = wire::ReadLE32(m_Record.data() + m_At);
        m_At += 4;
        return true;
    }
    bool U64(uint64_t& value) {
        if (Left() < 8) return false;
        const uint64_t low = wire::ReadLE32(m_Record.data() + m_At);
        const uint64_t high = wire::ReadLE32(m_Record.data() + m_At + 4);
        value = low | (high << 32);
        m_At += 8;
        return true;
    }
    // Exactly `len` bytes, or nothing.
    bool Bytes(size_t len, std::string& out) {
        if (Left() < len) return false;
        out.assign(m_Record, m_At, len);
        m_At += len;
        return true;
    }
    // Whatever is left, at most `len` bytes.
    std::string Rest(size_t len) {
        const size_t take = len < Left() ? len : Left();
        std::string out(m_Record, m_At, take);
        m_At += take;
        return out;
    }

private:
    const std::string& m_Record;
    size_t m_At = 0;
};

}  // namespace varnstatus
