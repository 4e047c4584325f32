// Cuts one launcher connection's byte stream into request lines. It is fed
// bytes and hands out complete lines; it does no I/O. A line longer than the
// protocol's bound makes the stream bad for good (the connection is then
// dropped). One thread at a time.
#pragma once

#include <cstddef>
#include <string>

class CLaunchLineReader {
public:
    explicit CLaunchLineReader(size_t maxLineBytes) : m_MaxLineBytes(maxLineBytes) {}

    // False once the stream holds a line over the bound.
    bool Feed(const char* data, size_t size);
    // The next complete line without its "\n" or "\r\n"; false when none.
    bool NextLine(std::string& line);
    bool HasLine() const { return !m_Bad && m_Pending.find('\n') != std::string::npos; }
    bool IsBad() const { return m_Bad; }

private:
    static constexpr size_t kMaxPendingLines = 16;

    size_t m_MaxLineBytes;
    std::string m_Pending;  // bytes after the last complete line taken
    bool m_Bad = false;
};
