// The recorder of one kind of link: its Recv and Send directions and the
// number under which the links find it (2 DataServer, 3 GameServer,
// 4 LoginServer, 5 RouteServer). Owned by PackRecorderManager.
#pragma once

#include <cstdint>

#include "diag/OneWayPackRec.h"

class PackRecorder {
public:
    explicit PackRecorder(int32_t number) : m_Number(number) {}
    PackRecorder(const PackRecorder&) = delete;
    PackRecorder& operator=(const PackRecorder&) = delete;

    OneWayPackRec& Recv() { return m_Recv; }
    OneWayPackRec& Send() { return m_Send; }
    int32_t GetNumber() const { return m_Number; }

private:
    OneWayPackRec m_Recv;
    OneWayPackRec m_Send;
    const int32_t m_Number;
};
