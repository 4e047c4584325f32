// CPythonScript: the embedded interpreter. Loads script files as modules,
// keeps them in a registry, reloads them, calls their functions and turns
// Python errors into text; every message goes to the log and to a message
// list. It owns the interpreter when it started it, and owns its registry
// and function tables. One thread at a time may call it (any thread: each
// entry point takes the interpreter lock itself). Modules it registered in an
// interpreter it did not start must not be used after it ends.
#pragma once

#include <Python.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "infra/AIndexListPro.h"
#include "infra/AList.h"
#include "script/ModuleDict.h"
#include "script/PyRef.h"

class CPythonScript {
public:
    using TraceCallback = void (*)(void* context, const char* text);

    CPythonScript();
    virtual ~CPythonScript();
    CPythonScript(const CPythonScript&) = delete;
    CPythonScript& operator=(const CPythonScript&) = delete;

    void Output(const char* category, const char* text, bool isError);

    // Collects a function (taking a variable argument tuple) for the next
    // RegisterModule. The texts are copied.
    void RegisterFunction(const char* name, PyCFunction function, const char* doc);
    // Creates the module over the collected functions and makes it importable.
    // Its functions get the module as self; OwnerOf(self) gives this engine.
    bool RegisterModule(const char* moduleName);
    static CPythonScript* OwnerOf(PyObject* module);

    // Makes an extension module importable under `name`. Before the
    // interpreter runs it is added to the built-in table (name and init must
    // then live until the interpreter starts); afterwards init is called and
    // the module put into sys.modules. False, with a log line, on failure.
    static bool RegisterBuiltinModule(const char* name, PyObject* (*init)());

    bool LoadFromFile(const std::string& fileName);
    bool ReloadModule(tagModuleDict* entry, const std::string& fileName);
    // New reference to the result, or null. args (may be null) is not consumed.
    PyObject* CallFunction(const std::string& fileName, const std::string& functionName, PyObject* args);
    // As CallFunction, then releases one reference of args: callers hand over their tuple.
    PyObject* CallFunctionTakingArgs(const std::string& fileName, const std::string& functionName, PyObject* args);

    // Fetches and clears the pending Python error.
    std::string GetErrorText();
    // ".py", ".pyo" or ".pyc": the first extension with which the file exists; empty when none.
    std::string FindScriptExtension(const std::string& fileName) const;

    void TraceOutput(const char* text);
    void SetTraceCallback(TraceCallback callback, void* context);

    const std::vector<std::string>& GetMessageList() const { return m_Messages; }
    int GetMessageNumber() const { return m_MessageNumber; }
    const std::string& GetPythonPath() const { return m_PythonPath; }
    const std::vector<std::string>& GetTraceList() const { return m_TraceList; }
    const std::string& GetScriptFolder() const { return m_ScriptFolder; }
    bool OwnsInterpreter() const { return m_OwnsInterpreter; }
    // The registry entry of a file name (any letter case), or null.
    tagModuleDict* FindModuleEntry(const std::string& fileName) const;

private:
    // A method table with the module definition over it. The interpreter
    // keeps pointers into both for as long as it runs.
    struct tagFunctionTable {
        std::deque<std::string> texts;  // a deque keeps their addresses as it grows
        std::vector<PyMethodDef> methods;
        std::string moduleName;
        PyModuleDef definition{};
    };

    static PyObject* Msg(PyObject* self, PyObject* args);
    static std::string FetchErrorText();
    static std::string TracebackText(PyObject* traceback);

    bool StartInterpreter();
    void AddScriptFolderToPath();
    std::string ReadPythonPath();
    void WarnIfInOwnFolder(const std::string& fileName);
    bool ImportModule(tagModuleDict* entry, const std::string& fileName);
    bool ScriptFileExists(const std::string& fileName) const;
    void ReportMissingFunction(const std::string& fileName, const std::string& functionName, PyObject* dictionary);
    static void AddCapped(std::vector<std::string>& list, std::string text);

    std::vector<std::string> m_Messages;
    int m_MessageNumber = 0;
    std::string m_PythonPath;
    std::string m_ProgramName;  // the interpreter's program name is copied from it
    std::string m_ScriptFolder;
    bool m_OwnsInterpreter = false;
    PyThreadState* m_StartThreadState = nullptr;  // saved when the lock is released after start-up
    AIndexListPro<std::string, tagModuleDict> m_Modules{true};
    std::unique_ptr<tagFunctionTable> m_PendingTable;
    AList<tagFunctionTable> m_FunctionTables{true};
    PyRef m_CurrentFunction;
    std::vector<std::string> m_TraceList;
    TraceCallback m_TraceCallback = nullptr;
    void* m_TraceContext = nullptr;
};
