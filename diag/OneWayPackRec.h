// The recording of one direction (Recv or Send) of one kind of link. Links
// hand over every frame from their network threads, several at once; the
// recorder window reads, filters and clears on the GUI thread. While the
// direction is disabled a frame costs one atomic increment. The lists and the
// watch list are guarded by one mutex; readers get copies, never pointers
// into the lists, so a concurrent clear cannot leave them dangling.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "diag/tagOnePackData.h"
#include "infra/AList.h"

class OneWayPackRec {
public:
    // Called on the recording thread after a record that passes the filter
    // was added; it only raises a flag for the window's timer.
    using NotifyFunc = void (*)(void* context);

    static constexpr int kMaxRecords = 100000;

    enum FilterMode : int32_t { fmNone = 0, fmHideWatched = 1, fmOnlyWatched = 2 };

    OneWayPackRec() = default;
    OneWayPackRec(const OneWayPackRec&) = delete;
    OneWayPackRec& operator=(const OneWayPackRec&) = delete;

    void AddRecord(const char* bytes, int len);
    void AddRecord(const char* bytes, int len, int32_t sessionId, int32_t packOrder);
    void ClearRecords(bool resetSequence);
    int RebuildView();
    // Copy of the index-th visible record: from all records with no filter,
    // from the view otherwise; nullopt outside the list.
    std::optional<tagOnePackData> GetViewItem(int index) const;
    int GetRecordCount() const;
    int GetViewCount() const;

    void AddWatch(const std::string& hexText);
    void DeleteWatch(int index);
    void ClearWatch();
    int GetWatchCount() const;
    std::string GetWatch(int index) const;

    bool GetEnabled() const { return m_Enabled.load(std::memory_order_acquire); }
    void SetEnabled(bool enabled) { m_Enabled.store(enabled, std::memory_order_release); }
    int32_t GetFilterMode() const { return m_FilterMode.load(std::memory_order_acquire); }
    void SetFilterMode(int32_t mode) { m_FilterMode.store(mode, std::memory_order_release); }
    uint32_t GetPacketCount() const { return m_PacketCount.load(std::memory_order_acquire); }
    std::string GetName() const;
    void SetName(const std::string& name);
    void SetNotify(NotifyFunc notify, void* context);

private:
    bool MatchesWatch(const std::string& hexText) const;  // caller holds m_Lock
    bool PassesFilter(const std::string& hexText) const;  // caller holds m_Lock
    void ClearLists();                                    // caller holds m_Lock

    AList<tagOnePackData> m_Records{true, 10};
    AList<tagOnePackData> m_View{false, 10};
    std::atomic<bool> m_Enabled{false};
    std::atomic<uint32_t> m_PacketCount{0};
    std::string m_Name;
    mutable std::mutex m_Lock;
    std::vector<std::string> m_WatchList;
    std::atomic<int32_t> m_FilterMode{fmNone};
    NotifyFunc m_Notify = nullptr;
    void* m_NotifyContext = nullptr;
};
