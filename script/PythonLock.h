// PythonLock: holds the interpreter lock for the lifetime of the object.
// The engine releases the lock once it has set the interpreter up, so every
// thread that touches Python objects (the engine itself, and callers that
// build argument tuples) takes it through this holder. Nests on one thread;
// does nothing while no interpreter runs.
#pragma once

#include <Python.h>

class PythonLock {
public:
    PythonLock() : m_Held(Py_IsInitialized() != 0) {
        if (m_Held) m_State = PyGILState_Ensure();
    }
    ~PythonLock() {
        if (m_Held) PyGILState_Release(m_State);
    }
    PythonLock(const PythonLock&) = delete;
    PythonLock& operator=(const PythonLock&) = delete;

    // False when there was no interpreter to lock: no Python call may follow.
    bool Held() const { return m_Held; }

private:
    const bool m_Held;
    PyGILState_STATE m_State{};
};
