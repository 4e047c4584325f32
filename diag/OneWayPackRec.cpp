#include "diag/OneWayPackRec.h"

#include <ctime>

#include "infra/CommonFunc.h"
#include "infra/HexDump.h"

void OneWayPackRec::AddRecord(const char* bytes, int len) { AddRecord(bytes, len, 0, 0); }

void OneWayPackRec::AddRecord(const char* bytes, int len, int32_t sessionId, int32_t packOrder) {
    if (!GetEnabled()) {
        m_PacketCount.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    if (bytes == nullptr || len < 0) len = 0;
    auto record = std::make_unique<tagOnePackData>();
    record->rawBytes.assign(bytes ? bytes : "", static_cast<size_t>(len));
    record->hexText = HexDump(bytes, len);
    record->time = LocalTimeText("%H:%M:%S");
    record->sessionId = sessionId;
    record->packOrder = packOrder;

    NotifyFunc notify = nullptr;
    void* notifyContext = nullptr;
    {
        std::lock_guard lock(m_Lock);
        record->sequence = static_cast<int32_t>(m_PacketCount.fetch_add(1, std::memory_order_acq_rel) + 1);
        if (m_Records.Count() >= kMaxRecords) ClearLists();
        const bool passes = PassesFilter(record->hexText);
        m_Records.Add(record.release());
        if (passes) {
            notify = m_Notify;
            notifyContext = m_NotifyContext;
        }
    }
    if (notify != nullptr) notify(notifyContext);
}

void OneWayPackRec::ClearRecords(bool resetSequence) {
    std::lock_guard lock(m_Lock);
    ClearLists();
    if (resetSequence) m_PacketCount.store(0, std::memory_order_release);
}

int OneWayPackRec::RebuildView() {
    std::lock_guard lock(m_Lock);
    m_View.Clear();
    const int32_t mode = GetFilterMode();
    if (mode == fmNone) return m_Records.Count();
    if (mode != fmHideWatched && mode != fmOnlyWatched) return 0;
    const bool wantMatch = mode == fmOnlyWatched;
    for (tagOnePackData* record : m_Records) {
        if (MatchesWatch(record->hexText) == wantMatch) m_View.Add(record);
    }
    return m_View.Count();
}

std::optional<tagOnePackData> OneWayPackRec::GetViewItem(int index) const {
    std::lock_guard lock(m_Lock);
    const tagOnePackData* record = GetFilterMode() == fmNone ? m_Records.Get(index) : m_View.Get(index);
    if (record == nullptr) return std::nullopt;
    return *record;
}

int OneWayPackRec::GetRecordCount() const {
    std::lock_guard lock(m_Lock);
    return m_Records.Count();
}

int OneWayPackRec::GetViewCount() const {
    std::lock_guard lock(m_Lock);
    return m_View.Count();
}

void OneWayPackRec::AddWatch(const std::string& hexText) {
    std::lock_guard lock(m_Lock);
    m_WatchList.push_back(hexText);
}

void OneWayPackRec::DeleteWatch(int index) {
    std::lock_guard lock(m_Lock);
    if (index < 0 || index >= static_cast<int>(m_WatchList.size())) return;
    m_WatchList.erase(m_WatchList.begin() + index);
}

void OneWayPackRec::ClearWatch() {
    std::lock_guard lock(m_Lock);
    m_WatchList.clear();
}

int OneWayPackRec::GetWatchCount() const {
    std::lock_guard lock(m_Lock);
    return static_cast<int>(m_WatchList.size());
}

std::string OneWayPackRec::GetWatch(int index) const {
    std::lock_guard lock(m_Lock);
    if (index < 0 || index >= static_cast<int>(m_WatchList.size())) return {};
    return m_WatchList[static_cast<size_t>(index)];
}

std::string OneWayPackRec::GetName() const {
    std::lock_guard lock(m_Lock);
    return m_Name;
}

void OneWayPackRec::SetName(const std::string& name) {
    std::lock_guard lock(m_Lock);
    m_Name = name;
}

void OneWayPackRec::SetNotify(NotifyFunc notify, void* context) {
    std::lock_guard lock(m_Lock);
    m_Notify = notify;
    m_NotifyContext = context;
}

bool OneWayPackRec::MatchesWatch(const std::string& hexText) const {
    for (const std::string& watch : m_WatchList) {
        if (hexText.find(watch) != std::string::npos) return true;
    }
    return false;
}

bool OneWayPackRec::PassesFilter(const std::string& hexText) const {
    switch (GetFilterMode()) {
        case fmNone:
            return true;
        case fmHideWatched:
            return !MatchesWatch(hexText);
        case fmOnlyWatched:
            return MatchesWatch(hexText);
        default:
            return false;
    }
}

void OneWayPackRec::ClearLists() {
    m_View.Clear();
    m_Records.Clear();
}
