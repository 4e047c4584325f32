// One recorded packet: the frame exactly as a link handed it over, its hex
// text for display and filtering, and where it stood in its direction's
// sequence. Records are owned by their OneWayPackRec.
#pragma once

#include <cstdint>
#include <string>

struct tagOnePackData {
    std::string hexText;   // "01 AB " form: two upper-case digits and a blank per byte
    std::string rawBytes;  // the frame as handed over
    std::string time;      // local time of recording, HH:MM:SS
    int32_t sequence = 0;  // the direction's packet counter after counting this packet
    int32_t sessionId = 0;  // header Context of listening-side send records, else 0
    int32_t packOrder = 0;  // always 0 in this system
};
