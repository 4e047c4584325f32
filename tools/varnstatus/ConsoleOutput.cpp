#include "tools/varnstatus/ConsoleOutput.h"

#include <chrono>
#include <ctime>

namespace varnstatus {

std::string ConsoleOutput::TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t length = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof(text) - length, ".%03d", static_cast<int>(millis));
    return text;
}

void ConsoleOutput::Event(const std::string& text) { Line("[" + TimeStamp() + "] " + text); }

void ConsoleOutput::Line(const std::string& text) {
    std::fputs(text.c_str(), m_Out);
    std::fputc('\n', m_Out);
    std::fflush(m_Out);
}

void ConsoleOutput::Lines(const std::vector<std::string>& lines) {
    for (const auto& line : lines) Line(line);
}

void ConsoleOutput::Error(const std::string& text) {
    std::fprintf(m_Err, "error: %s\n", text.c_str());
    std::fflush(m_Err);
}

}  // namespace varnstatus
