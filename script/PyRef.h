// PyRef: owns one strong reference to a Python object and gives it back when
// it goes out of scope, so no early return leaks a reference. It must be
// destroyed while the interpreter lock is held: declare it after the
// PythonLock of the same scope. Move-only.
#pragma once

#include <Python.h>

#include <utility>

class PyRef {
public:
    PyRef() = default;
    // Takes over a new reference (null allowed, as Python calls return on failure).
    explicit PyRef(PyObject* newReference) : m_Object(newReference) {}
    // Adds a reference of its own to a borrowed object.
    static PyRef Borrowed(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }
    ~PyRef() { Py_XDECREF(m_Object); }
    PyRef(PyRef&& other) noexcept : m_Object(std::exchange(other.m_Object, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(m_Object);
            m_Object = std::exchange(other.m_Object, nullptr);
        }
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;

    PyObject* Get() const { return m_Object; }
    explicit operator bool() const { return m_Object != nullptr; }
    // Hands the reference to the caller.
    PyObject* Release() { return std::exchange(m_Object, nullptr); }
    void Reset() { *this = PyRef(); }

private:
    PyObject* m_Object = nullptr;
};
