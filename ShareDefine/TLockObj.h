// TLockObj: holds a critical section for one scope. The section is
// re-entrant, so code that already holds it may take it again.
#pragma once

#include "platform/CriticalSection.h"

class TLockObj {
public:
    explicit TLockObj(plat::CriticalSection& section) : m_Section(&section) { m_Section->Enter(); }
    ~TLockObj() { m_Section->Leave(); }
    TLockObj(const TLockObj&) = delete;
    TLockObj& operator=(const TLockObj&) = delete;

private:
    plat::CriticalSection* m_Section;  // not owned
};
