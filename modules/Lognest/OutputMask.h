// The meaning of the output mask's bits inside the module. The mask is one
// byte over the elements 1..5 of the window's level check list ("Debug Log",
// "Frm Log", "Warning", "Error log", "Fatal Log"); element e is bit e.
#pragma once

#include <cstdint>

#include "modules/Lognest/LogService.h"

namespace lognest {

inline constexpr uint8_t kMaskDebug = 1u << 1;   // Debug entries into the files
inline constexpr uint8_t kMaskNotify = 1u << 2;  // entries to the notify window
inline constexpr uint8_t kMaskWarning = 1u << 3; // PyWarn, Warn, Design into the files
inline constexpr uint8_t kMaskError = 1u << 4;   // PyErr, Error into the files
inline constexpr uint8_t kMaskFatal = 1u << 5;   // Fatal into the files
inline constexpr uint8_t kDefaultOutputMask = kMaskDebug | kMaskNotify | kMaskWarning | kMaskError | kMaskFatal;

// Whether an entry of this level goes to the files under the mask. Nomal and
// Info are the server's progress record and always go.
constexpr bool MaskLetsIntoFiles(uint8_t mask, int level) {
    switch (level) {
        case llNomal:
        case llInfo: return true;
        case llDebug: return (mask & kMaskDebug) != 0;
        case llPyWarn:
        case llWarn:
        case llDesign: return (mask & kMaskWarning) != 0;
        case llPyErr:
        case llError: return (mask & kMaskError) != 0;
        case llFatal: return (mask & kMaskFatal) != 0;
        default: return false;
    }
}

}  // namespace lognest
