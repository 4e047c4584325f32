#include "diag/PackRecorderManager.h"

PackRecorderManager& PackRecorderManager::Instance() {
    static PackRecorderManager manager;
    return manager;
}

PackRecorder* PackRecorderManager::CreateRecorder(const std::string& name, int32_t number) {
    const int index = m_Count.load(std::memory_order_acquire);
    if (index >= kMaxRecorders) return nullptr;
    auto recorder = std::make_unique<PackRecorder>(number);
    recorder->Recv().SetName(name + " Recv");
    recorder->Send().SetName(name + " Send");
    m_Recorders[static_cast<size_t>(index)] = std::move(recorder);
    // Publishing the count last makes the new entry visible only once it is complete.
    m_Count.store(index + 1, std::memory_order_release);
    return m_Recorders[static_cast<size_t>(index)].get();
}

PackRecorder* PackRecorderManager::FindRecorder(int32_t number) const {
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        PackRecorder* recorder = m_Recorders[static_cast<size_t>(i)].get();
        if (recorder->GetNumber() == number) return recorder;
    }
    return nullptr;
}

PackRecorder* PackRecorderManager::GetRecorder(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return m_Recorders[static_cast<size_t>(index)].get();
}

void PackRecorderManager::EnableAll(bool enabled) {
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        m_Recorders[static_cast<size_t>(i)]->Recv().SetEnabled(enabled);
        m_Recorders[static_cast<size_t>(i)]->Send().SetEnabled(enabled);
    }
}

void PackRecorderManager::ClearNotifyAll() {
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        m_Recorders[static_cast<size_t>(i)]->Recv().SetNotify(nullptr, nullptr);
        m_Recorders[static_cast<size_t>(i)]->Send().SetNotify(nullptr, nullptr);
    }
}

void PackRecorderManager::ClearAll(bool resetSequence) {
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        m_Recorders[static_cast<size_t>(i)]->Recv().ClearRecords(resetSequence);
        m_Recorders[static_cast<size_t>(i)]->Send().ClearRecords(resetSequence);
    }
}
