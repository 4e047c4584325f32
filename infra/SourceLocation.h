// The "%s : %d" location text that send-failure and size warnings begin
// with: the source file, relative to the project root, and the line.
#pragma once

#include <source_location>
#include <string>

std::string LocationText(const std::source_location& where = std::source_location::current());
