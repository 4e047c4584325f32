// Command-line parsing shared by the tools: CLI11 reads the arguments; what
// it would print for --help or a bad option is handed back as text, so the
// tool decides where it goes and which exit code follows.
#pragma once

#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

namespace tools {

// True when the arguments parsed. Otherwise output holds CLI11's text and
// helpRequested tells --help (exit 0) from a bad option.
inline bool ParseCommandLine(CLI::App& app, int argc, const char* const* argv, std::string& output,
                             bool& helpRequested) {
    try {
        app.parse(argc, argv);
        return true;
    } catch (const CLI::ParseError& error) {
        std::ostringstream out;
        std::ostringstream err;
        helpRequested = app.exit(error, out, err) == 0;
        output = out.str() + err.str();
        return false;
    }
}

}  // namespace tools
