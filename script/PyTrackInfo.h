// tagPyTrackInfo: a per-file tracking record of the call tracker. The
// tracker's record list owns it; used on the engine's calling thread only.
#pragma once

#include <string>

struct tagPyTrackInfo {
    std::string fileName;
    std::string text;
};
