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

    std::lock_guard lock(m_Lock);
    record->sequence = static_cast<int32_t>(m_PacketCount.fetch_add(1, std::memory_order_acq_rel) + 1);
    if (m_Records.Count() >= m_MaxRecords) ClearLists();
    const bool passes = PassesFilter(record->hexText);
    tagOnePackData* added = record.release();
    m_Records.Add(added);
    // While the view is valid the filter is the one it was built for, so a
    // passing record belongs at its end; with no filter the view stays empty.
    if (passes && m_ViewValid && GetFilterMode() != fmNone) m_View.Add(added);
    // Called under the lock: SetNotify takes it too, so once the window has
    // removed its callback no call into the window is still under way.
    if (passes && m_Notify != nullptr) m_Notify(m_NotifyContext);
}

void OneWayPackRec::ClearRecords(bool resetSequence) {
    std::lock_guard lock(m_Lock);
    ClearLists();
    if (resetSequence) m_PacketCount.store(0, std::memory_order_release);
}

int OneWayPackRec::RebuildView() {
    std::lock_guard lock(m_Lock);
    const int32_t mode = GetFilterMode();
    if (!m_ViewValid) {
        m_View.Clear();
        if (mode == fmHideWatched || mode == fmOnlyWatched) {
            const bool wantMatch = mode == fmOnlyWatched;
            for (tagOnePackData* record : m_Records) {
                if (MatchesWatch(record->hexText) == wantMatch) m_View.Add(record);
            }
        }
        m_ViewValid = true;
    }
    m_ViewShown = m_View.Count();
    return mode == fmNone ? m_Records.Count() : m_ViewShown;
}

std::optional<tagOnePackData> OneWayPackRec::GetViewItem(int index) const {
    std::lock_guard lock(m_Lock);
    const tagOnePackData* record = nullptr;
    if (GetFilterMode() == fmNone) {
        record = m_Records.Get(index);
    } else if (index < m_ViewShown) {
        record = m_View.Get(index);
    }
    if (record == nullptr) return std::nullopt;
    return *record;
}

int OneWayPackRec::GetRecordCount() const {
    std::lock_guard lock(m_Lock);
    return m_Records.Count();
}

int OneWayPackRec::GetViewCount() const {
    std::lock_guard lock(m_Lock);
    return m_ViewShown;
}

void OneWayPackRec::AddWatch(const std::string& hexText) {
    std::lock_guard lock(m_Lock);
    m_WatchList.push_back(hexText);
    m_ViewValid = false;
}

void OneWayPackRec::DeleteWatch(int index) {
    std::lock_guard lock(m_Lock);
    if (index < 0 || index >= static_cast<int>(m_WatchList.size())) return;
    m_WatchList.erase(m_WatchList.begin() + index);
    m_ViewValid = false;
}

void OneWayPackRec::ClearWatch() {
    std::lock_guard lock(m_Lock);
    if (m_WatchList.empty()) return;
    m_WatchList.clear();
    m_ViewValid = false;
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

void OneWayPackRec::SetFilterMode(int32_t mode) {
    // Under the lock, so that no record is added to the view by the old
    // filter after it has been marked for rebuilding.
    std::lock_guard lock(m_Lock);
    if (mode == GetFilterMode()) return;
    m_FilterMode.store(mode, std::memory_order_release);
    m_ViewValid = false;
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
    // An empty view is the right one for no records under any filter, so it
    // is valid again and takes the records that follow.
    m_View.Clear();
    m_ViewShown = 0;
    m_ViewValid = true;
    m_Records.Clear();
}
