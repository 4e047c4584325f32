// tagModuleDict: one loaded script in the engine's registry. The registry
// owns the record and the record owns its module reference; both live until
// the engine ends. Touched only under the interpreter lock.
#pragma once

#include <string>

#include "script/PyRef.h"

struct tagModuleDict {
    std::string name;               // lower-cased file name, the registry key
    PyRef module;                   // null while the script is not imported
    PyObject* dictionary = nullptr; // borrowed from module
};
