// The text of the "ListLogFiles" answer: one line per regular file of a
// folder, "name size modified-time", sorted by name. No I/O beyond reading
// the folder; safe on any thread.
#pragma once

#include <string>

std::string ListLogFiles(const std::string& directory);
