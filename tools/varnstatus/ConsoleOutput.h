// ConsoleOutput: where the console's text goes. Link events carry a local
// time stamp, results are plain lines, failures go to the error stream with
// "error: ". Every call ends with a flush: scripts and tests read the lines
// through pipes as they come. Event-loop thread only.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace varnstatus {

class ConsoleOutput {
public:
    ConsoleOutput(std::FILE* out, std::FILE* err) : m_Out(out), m_Err(err) {}

    // "[YYYY-MM-DD HH:MM:SS.mmm] text"
    void Event(const std::string& text);
    void Line(const std::string& text);
    void Lines(const std::vector<std::string>& lines);
    void Error(const std::string& text);

    static std::string TimeStamp();

private:
    std::FILE* m_Out;  // not owned
    std::FILE* m_Err;  // not owned
};

}  // namespace varnstatus
