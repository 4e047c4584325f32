// AAutoQueue<T>: a recycling store of T objects. It owns every element it
// ever created (destroyed with it) and keeps the ones not handed out in a
// free list: takes come from the front, so an element given back at the
// front is the next handed out. Every operation takes the one re-entrant
// lock, so it may be used from any thread; derived pools take the same
// lock around several operations.
#pragma once

#include <deque>

#include "ShareDefine/TLockObj.h"
#include "infra/AList.h"
#include "infra/Log.h"
#include "platform/CriticalSection.h"

template <typename T>
class AAutoQueue {
public:
    AAutoQueue() = default;
    virtual ~AAutoQueue() = default;  // m_All deletes every element
    AAutoQueue(const AAutoQueue&) = delete;
    AAutoQueue& operator=(const AAutoQueue&) = delete;

    // Takes ownership of element and puts it at the back of the free list.
    // On failure (std::bad_alloc) the element is deleted and the error passed on.
    void AddElement(T* element) {
        TLockObj lock(m_Lock);
        try {
            m_Free.push_back(element);
        } catch (...) {
            delete element;
            throw;
        }
        try {
            m_All.Add(element);
        } catch (...) {
            m_Free.pop_back();
            delete element;
            throw;
        }
    }

    // The front free element, or null when none is free.
    T* GetEmpty() {
        TLockObj lock(m_Lock);
        if (EmptyCountLocked() < 0 || EmptyCountLocked() > CountLocked()) {
            GetLog()->LogError(" AAutoQueue<T>::GetEmpty EmptyCount(%d)<0 || EmptyCount() > Count(%d)",
                               EmptyCountLocked(), CountLocked());
        }
        if (m_Free.empty()) return nullptr;
        T* element = m_Free.front();
        m_Free.pop_front();
        return element;
    }

    // Number of elements ever created.
    int Count() const {
        TLockObj lock(m_Lock);
        return CountLocked();
    }
    // Number of elements not handed out.
    int EmptyCount() const {
        TLockObj lock(m_Lock);
        return EmptyCountLocked();
    }

protected:
    // The counts for code that already holds m_Lock (no second lock round trip).
    int CountLocked() const { return m_All.Count(); }
    int EmptyCountLocked() const { return static_cast<int>(m_Free.size()); }

    // Puts a given-back element at the front of the free list.
    void PushFreeFront(T* element) {
        TLockObj lock(m_Lock);
        m_Free.push_front(element);
    }

    mutable plat::CriticalSection m_Lock{plat::CriticalSection::kShortHoldSpinCount};
    AList<T> m_All{true, 10};  // guarded by m_Lock
    std::deque<T*> m_Free;     // guarded by m_Lock
    int m_GrowStep = 1000;     // elements created when a take finds none free
};
