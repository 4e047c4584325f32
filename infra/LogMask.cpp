#include "infra/LogMask.h"

uint8_t LogOutputMaskFromChecks(const bool checked[kLogMaskCheckCount]) {
    uint8_t mask = 0;
    for (int item = 0; item < kLogMaskCheckCount; ++item) {
        if (checked[item]) mask = static_cast<uint8_t>(mask | (1u << (item + 1)));
    }
    return mask;
}
