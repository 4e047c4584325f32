#include "LastError.h"

namespace plat {
namespace {
thread_local uint32_t t_lastError = 0;
}

void SetLastError(uint32_t code) { t_lastError = code; }

uint32_t GetLastError() { return t_lastError; }

}  // namespace plat
