// The recording of one direction (Recv or Send) of one kind of link. Links
// hand over every frame from their network threads, several at once; the
// recorder window reads, filters and clears on the GUI thread. While the
// direction is disabled a frame costs one atomic increment. The lists and the
// watch list are guarded by one mutex; readers get copies, never pointers
// into the lists, so a concurrent clear cannot leave them dangling.
//
// With a filter on, the view (the records that pass it) is kept up to date as
// records arrive, so the window's 10 ms follow-up costs nothing in proportion
// to the records held; only a change of filter mode or watch list makes the
// next RebuildView scan them all again. Readers still see the view as the
// last RebuildView left it (or empty after a clear): records added to it since
// stay hidden until the next one.
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
    // was added; it only raises a flag for the window's timer. It runs with
    // the lock held, so it must not call back into this object.
    using NotifyFunc = void (*)(void* context);

    static constexpr int kMaxRecords = 100000;

    enum FilterMode : int32_t { fmNone = 0, fmHideWatched = 1, fmOnlyWatched = 2 };

    // maxRecords below kMaxRecords lets tests reach the limit with a few records.
    explicit OneWayPackRec(int maxRecords = kMaxRecords) : m_MaxRecords(maxRecords) {}
    OneWayPackRec(const OneWayPackRec&) = delete;
    OneWayPackRec& operator=(const OneWayPackRec&) = delete;

    void AddRecord(const char* bytes, int len);
    void AddRecord(const char* bytes, int len, int32_t sessionId, int32_t packOrder);
    void ClearRecords(bool resetSequence);
    // Brings the view up to the records held and returns the number of rows
    // to show: the view's count with a filter, all records' without one.
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
    void SetFilterMode(int32_t mode);
    uint32_t GetPacketCount() const { return m_PacketCount.load(std::memory_order_acquire); }
    std::string GetName() const;
    void SetName(const std::string& name);
    // Once this returns, the previous callback is not running and will not
    // be called again, so its context may be destroyed.
    void SetNotify(NotifyFunc notify, void* context);

private:
    bool MatchesWatch(const std::string& hexText) const;  // caller holds m_Lock
    bool PassesFilter(const std::string& hexText) const;  // caller holds m_Lock
    void ClearLists();                                    // caller holds m_Lock

    const int m_MaxRecords;
    AList<tagOnePackData> m_Records{true, 10};
    // The records that pass the filter, in record order, while m_ViewValid;
    // empty for no filter or an unknown mode. Readers see only the first
    // m_ViewShown of them: the ones present at the last RebuildView.
    AList<tagOnePackData> m_View{false, 10};
    int m_ViewShown = 0;
    // False once the filter mode or the watch list changed since the view was
    // built; records are then no longer added to it until it is rebuilt.
    bool m_ViewValid = true;
    std::atomic<bool> m_Enabled{false};
    std::atomic<uint32_t> m_PacketCount{0};
    std::string m_Name;
    mutable std::mutex m_Lock;
    std::vector<std::string> m_WatchList;
    std::atomic<int32_t> m_FilterMode{fmNone};
    NotifyFunc m_Notify = nullptr;
    void* m_NotifyContext = nullptr;
};
