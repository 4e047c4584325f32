#include "modules/LaunchServerDLL/LaunchLineReader.h"

bool CLaunchLineReader::Feed(const char* data, size_t size) {
    if (m_Bad) return false;
    m_Pending.append(data, size);
    // Every complete line must fit, and so must the unfinished tail.
    size_t start = 0;
    for (size_t end = m_Pending.find('\n'); end != std::string::npos; end = m_Pending.find('\n', start)) {
        if (end + 1 - start > m_MaxLineBytes) m_Bad = true;
        start = end + 1;
    }
    if (m_Pending.size() - start >= m_MaxLineBytes) m_Bad = true;
    // A launcher waits for each answer, so a few queued lines are plenty.
    if (m_Pending.size() > kMaxPendingLines * m_MaxLineBytes) m_Bad = true;
    if (m_Bad) m_Pending.clear();
    return !m_Bad;
}

bool CLaunchLineReader::NextLine(std::string& line) {
    const size_t end = m_Pending.find('\n');
    if (m_Bad || end == std::string::npos) return false;
    line.assign(m_Pending, 0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    m_Pending.erase(0, end + 1);
    return true;
}
