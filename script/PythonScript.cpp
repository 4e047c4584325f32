#include "script/PythonScript.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <exception>
#include <filesystem>
#include <utility>

#include "infra/CommonFunc.h"
#include "infra/Log.h"
#include "script/PythonLock.h"

namespace {

constexpr size_t kMaxListEntries = 10000;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string TimeOfDay() { return LocalTimeText("%H:%M:%S"); }

// Script names come from Windows-era callers as well, so both separators count.
size_t NameStart(const std::string& fileName) {
    const size_t separator = fileName.find_last_of("/\\");
    return separator == std::string::npos ? 0 : separator + 1;
}

std::string ModuleNameOf(const std::string& fileName) {
    const std::string name = fileName.substr(NameStart(fileName));
    const std::string stem = name.substr(0, name.find('.'));
    return stem.empty() ? fileName : stem;
}

std::string WithExtension(const std::string& fileName, const std::string& extension) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < NameStart(fileName)) return fileName + extension;
    return fileName.substr(0, dot) + extension;
}

// str(object) as UTF-8; empty (and no pending error) when that fails.
std::string StrOf(PyObject* object) {
    if (object == nullptr) return {};
    PyRef text(PyObject_Str(object));
    const char* bytes = text ? PyUnicode_AsUTF8(text.Get()) : nullptr;
    if (bytes == nullptr) {
        PyErr_Clear();
        return {};
    }
    return bytes;
}

std::string AttributeText(PyObject* object, const char* name) {
    if (object == nullptr) return {};
    PyRef attribute(PyObject_GetAttrString(object, name));
    return StrOf(attribute.Get());
}

}  // namespace

CPythonScript::CPythonScript() : m_PendingTable(std::make_unique<tagFunctionTable>()) {
    std::error_code error;
    m_ProgramName = std::filesystem::read_symlink("/proc/self/exe", error).string();
    m_ScriptFolder = std::filesystem::absolute("script", error).lexically_normal().string();
    if (!Py_IsInitialized()) m_OwnsInterpreter = StartInterpreter();
    if (Py_IsInitialized()) {
        RegisterFunction("Msg", &CPythonScript::Msg, "Message Handle");
        RegisterModule("LogUI");
        PythonLock lock;
        AddScriptFolderToPath();
        m_PythonPath = ReadPythonPath();
    } else {
        Output("Sys", "python init fail!", true);
    }
    // From here on every entry point takes the lock itself, so that a later
    // thread (the request thread) can use the engine.
    if (m_OwnsInterpreter) m_StartThreadState = PyEval_SaveThread();
}

CPythonScript::~CPythonScript() {
    {
        PythonLock lock;
        m_CurrentFunction.Reset();
        m_Modules.Clear();
    }
    // Finalising needs the thread state of the start-up thread back.
    if (m_OwnsInterpreter && m_StartThreadState != nullptr && Py_IsInitialized()) {
        PyEval_RestoreThread(m_StartThreadState);
        Py_Finalize();
    }
}

bool CPythonScript::StartInterpreter() {
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    // The process reads its close signals through a descriptor and the crash
    // reporter owns the fault signals; the interpreter must not take them over.
    config.install_signal_handlers = 0;
    PyStatus status = PyStatus_Ok();
    if (!m_ProgramName.empty()) status = PyConfig_SetBytesString(&config, &config.program_name, m_ProgramName.c_str());
    if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    return !PyStatus_Exception(status) && Py_IsInitialized();
}

// Scripts are looked up in the runtime folder's script/ first, whatever the
// working directory is when a script is called later.
void CPythonScript::AddScriptFolderToPath() {
    PyObject* path = PySys_GetObject("path");
    PyRef folder(PyUnicode_DecodeFSDefault(m_ScriptFolder.c_str()));
    if (path == nullptr || !PyList_Check(path) || !folder || PyList_Insert(path, 0, folder.Get()) != 0) PyErr_Clear();
}

std::string CPythonScript::ReadPythonPath() {
    PyObject* path = PySys_GetObject("path");
    if (path == nullptr || !PyList_Check(path)) return {};
    std::string text;
    for (Py_ssize_t i = 0; i < PyList_Size(path); ++i) {
        if (i > 0) text += ':';
        text += StrOf(PyList_GetItem(path, i));
    }
    return text;
}

void CPythonScript::AddCapped(std::vector<std::string>& list, std::string text) {
    if (list.size() > kMaxListEntries) list.clear();
    list.push_back(std::move(text));
}

void CPythonScript::Output(const char* category, const char* text, bool isError) {
    if (category == nullptr) category = "";
    if (text == nullptr) text = "";
    if (isError) {
        GetLog()->PyErrorOutput(0, text);
    } else {
        GetLog()->PyOutput(0, text);
    }
    AddCapped(m_Messages, FormatText("[%s][#%d %s] : %s", category, m_MessageNumber, TimeOfDay().c_str(), text));
    ++m_MessageNumber;
}

void CPythonScript::RegisterFunction(const char* name, PyCFunction function, const char* doc) {
    tagFunctionTable& table = *m_PendingTable;
    const char* nameText = table.texts.emplace_back(name != nullptr ? name : "").c_str();
    const char* docText = doc != nullptr ? table.texts.emplace_back(doc).c_str() : nullptr;
    table.methods.push_back({nameText, function, METH_VARARGS, docText});
}

bool CPythonScript::RegisterModule(const char* moduleName) {
    PythonLock lock;
    tagFunctionTable* table = std::exchange(m_PendingTable, std::make_unique<tagFunctionTable>()).release();
    m_FunctionTables.Add(table);
    table->methods.push_back({nullptr, nullptr, 0, nullptr});
    table->moduleName = moduleName != nullptr ? moduleName : "";
    PyModuleDef& definition = table->definition;
    definition.m_base = PyModuleDef_HEAD_INIT;
    definition.m_name = table->moduleName.c_str();
    definition.m_size = sizeof(CPythonScript*);
    definition.m_methods = table->methods.data();

    PyRef module(lock.Held() ? PyModule_Create(&definition) : nullptr);
    // Putting it into sys.modules is what makes a module created after
    // start-up importable by name.
    if (!module || PyDict_SetItemString(PyImport_GetModuleDict(), definition.m_name, module.Get()) != 0) {
        if (lock.Held()) PyErr_Clear();
        Output("SysNameSpace", "python init can't find module!", true);
        return false;
    }
    *static_cast<CPythonScript**>(PyModule_GetState(module.Get())) = this;
    return true;
}

CPythonScript* CPythonScript::OwnerOf(PyObject* module) {
    if (module == nullptr || !PyModule_Check(module)) return nullptr;
    void* state = PyModule_GetState(module);
    return state != nullptr ? *static_cast<CPythonScript**>(state) : nullptr;
}

PyObject* CPythonScript::Msg(PyObject* self, PyObject* args) {
    const char* text = nullptr;
    if (!PyArg_ParseTuple(args, "s", &text)) return nullptr;
    const std::string message = FormatText("%s", text);
    if (CPythonScript* engine = OwnerOf(self)) engine->Output("Alert", message.c_str(), false);
    return PyUnicode_FromString(message.c_str());
}

bool CPythonScript::RegisterBuiltinModule(const char* name, PyObject* (*init)()) {
    if (name == nullptr || init == nullptr) return false;
    if (!Py_IsInitialized()) {
        if (PyImport_AppendInittab(name, init) == 0) return true;
        GetLog()->LogPyErr("CPythonScript::RegisterBuiltinModule(%s) PyImport_AppendInittab fail", name);
        return false;
    }
    PythonLock lock;
    PyRef module(init());
    if (!module || !PyModule_Check(module.Get()) ||
        PyDict_SetItemString(PyImport_GetModuleDict(), name, module.Get()) != 0) {
        const std::string error = FetchErrorText();
        GetLog()->LogPyErr("CPythonScript::RegisterBuiltinModule(%s) fail : %s", name, error.c_str());
        return false;
    }
    return true;
}

tagModuleDict* CPythonScript::FindModuleEntry(const std::string& fileName) const {
    return m_Modules.Find(Lower(fileName));
}

void CPythonScript::WarnIfInOwnFolder(const std::string& fileName) {
    std::string path = fileName;
    std::replace(path.begin(), path.end(), '\\', '/');
    const size_t nameStart = NameStart(path);
    const std::string name = path.substr(nameStart);
    const std::string base = name.substr(0, name.find('.'));
    const std::string folder = path.substr(0, nameStart == 0 ? 0 : nameStart - 1) + "/";
    if (folder.find("/" + base + "/") == std::string::npos) return;
    Output(fileName.c_str(),
           FormatText("文件 %s 读取有可能失败, 请检查python脚本名称是否和目录名相同(如果相同, 则执行不了)!",
                      fileName.c_str())
               .c_str(),
           true);
}

bool CPythonScript::LoadFromFile(const std::string& fileName) {
    PythonLock lock;
    m_MessageNumber = 0;
    try {
        WarnIfInOwnFolder(fileName);
        const std::string key = Lower(fileName);
        tagModuleDict* entry = m_Modules.Find(key);
        if (entry == nullptr) {
            entry = new tagModuleDict{key, PyRef(), nullptr};
            m_Modules.Add(key, entry);
        } else if (entry->module) {
            return ReloadModule(entry, fileName);
        }
        return ImportModule(entry, fileName);
    } catch (const std::exception& exception) {
        Output(fileName.c_str(),
               FormatText("%s(%s) failed:Exception %s", "CPythonScript::LoadFromFile", fileName.c_str(),
                          exception.what())
                   .c_str(),
               true);
        return false;
    }
}

bool CPythonScript::ImportModule(tagModuleDict* entry, const std::string& fileName) {
    const std::string moduleName = ModuleNameOf(fileName);
    PyRef module(Py_IsInitialized() ? PyImport_ImportModule(moduleName.c_str()) : nullptr);
    if (!module) {
        Output(fileName.c_str(), GetErrorText().c_str(), true);
        return false;
    }
    entry->dictionary = PyModule_Check(module.Get()) ? PyModule_GetDict(module.Get()) : nullptr;
    entry->module = std::move(module);
    return true;
}

bool CPythonScript::ReloadModule(tagModuleDict* entry, const std::string& fileName) {
    if (entry == nullptr || !entry->module) return LoadFromFile(fileName);
    // Game data kept in that module would be lost by a reload.
    if (fileName.find("PyGameData.py") != std::string::npos) {
        GetLog()->LogInfo("%s no reload !!!", fileName.c_str());
        return true;
    }
    PythonLock lock;
    PyRef reloaded(PyImport_ReloadModule(entry->module.Get()));
    if (!reloaded) {
        Output(fileName.c_str(), FormatText("Reload file : %s fail. %s", fileName.c_str(), GetErrorText().c_str()).c_str(),
               true);
        return false;
    }
    entry->dictionary = PyModule_Check(reloaded.Get()) ? PyModule_GetDict(reloaded.Get()) : nullptr;
    entry->module = std::move(reloaded);
    m_MessageNumber = 0;
    return true;
}

PyObject* CPythonScript::CallFunction(const std::string& fileName, const std::string& functionName, PyObject* args) {
    PythonLock lock;
    const std::string extension = FindScriptExtension(fileName);
    const std::string name = extension.empty() ? fileName : WithExtension(fileName, extension);
    const char* category = name.c_str();

    tagModuleDict* entry = FindModuleEntry(name);
    if (entry == nullptr) {
        LoadFromFile(name);
        entry = FindModuleEntry(name);
    }
    if (entry == nullptr) {
        Output(category, "dict is NULL!", true);
        return nullptr;
    }
    // A failed import is not retried here: the entry stays without a module
    // until someone loads the file again.
    if (!entry->module) {
        Output(category, "Can Not Find File!", true);
        return nullptr;
    }
    PyObject* dictionary = entry->dictionary;
    if (dictionary == nullptr && PyModule_Check(entry->module.Get())) dictionary = PyModule_GetDict(entry->module.Get());
    if (dictionary == nullptr) {
        Output(category,
               FormatText("Function : %s Run Fail,can't Find pDict : %s", functionName.c_str(), GetErrorText().c_str())
                   .c_str(),
               true);
        return nullptr;
    }
    PyObject* function = PyDict_GetItemString(dictionary, functionName.c_str());
    if (function == nullptr || !PyCallable_Check(function)) {
        ReportMissingFunction(name, functionName, dictionary);
        return nullptr;
    }
    m_CurrentFunction = PyRef::Borrowed(function);
    PyObject* result = PyObject_CallObject(function, args);
    if (result == nullptr) Output(category, GetErrorText().c_str(), true);
    return result;
}

PyObject* CPythonScript::CallFunctionTakingArgs(const std::string& fileName, const std::string& functionName,
                                                PyObject* args) {
    PyObject* result = CallFunction(fileName, functionName, args);
    PythonLock lock;
    if (lock.Held()) Py_XDECREF(args);
    return result;
}

void CPythonScript::ReportMissingFunction(const std::string& fileName, const std::string& functionName,
                                          PyObject* dictionary) {
    Output(fileName.c_str(),
           FormatText("Function : %s Run Fail : %s", functionName.c_str(), GetErrorText().c_str()).c_str(), true);
    PyRef keys(PyDict_Keys(dictionary));
    for (Py_ssize_t i = 0; keys && i < PyList_Size(keys.Get()); ++i) {
        Output(fileName.c_str(), StrOf(PyList_GetItem(keys.Get(), i)).c_str(), true);
    }
    PyErr_Clear();
}

std::string CPythonScript::GetErrorText() {
    PythonLock lock;
    return lock.Held() ? FetchErrorText() : std::string("NoError Or Unknown");
}

std::string CPythonScript::FetchErrorText() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    const PyRef typeRef(type);
    const PyRef valueRef(value);
    const PyRef tracebackRef(traceback);
    if (value == nullptr) return "NoError Or Unknown";
    std::string text =
        FormatText("Error Message:\r\n%s:%s", AttributeText(type, "__name__").c_str(), StrOf(value).c_str());
    if (traceback != nullptr) text += "\r\nTraceback:\r\n" + TracebackText(traceback);
    return text;
}

// Entries run from the outermost frame (the called function) inwards.
std::string CPythonScript::TracebackText(PyObject* traceback) {
    std::string text;
    for (PyRef entry = PyRef::Borrowed(traceback); entry && entry.Get() != Py_None;
         entry = PyRef(PyObject_GetAttrString(entry.Get(), "tb_next"))) {
        PyRef frame(PyObject_GetAttrString(entry.Get(), "tb_frame"));
        PyRef code(frame ? PyObject_GetAttrString(frame.Get(), "f_code") : nullptr);
        PyRef line(PyObject_GetAttrString(entry.Get(), "tb_lineno"));
        const long lineNumber = line ? PyLong_AsLong(line.Get()) : -1;
        text += FormatText("%s: %s(# %d)\r\n", AttributeText(code.Get(), "co_name").c_str(),
                           AttributeText(code.Get(), "co_filename").c_str(), static_cast<int>(lineNumber));
    }
    PyErr_Clear();
    return text;
}

std::string CPythonScript::FindScriptExtension(const std::string& fileName) const {
    for (const char* extension : {".py", ".pyo", ".pyc"}) {
        if (ScriptFileExists(WithExtension(fileName, extension))) return extension;
    }
    return {};
}

// The name as given (relative to the working directory, or absolute), and a
// relative name also inside the script folder, where imports find it.
bool CPythonScript::ScriptFileExists(const std::string& fileName) const {
    std::error_code error;
    if (std::filesystem::is_regular_file(fileName, error)) return true;
    const std::filesystem::path path(fileName);
    return path.is_relative() && std::filesystem::is_regular_file(std::filesystem::path(m_ScriptFolder) / path, error);
}

void CPythonScript::TraceOutput(const char* text) {
    if (text == nullptr) text = "";
    if (m_TraceCallback != nullptr) m_TraceCallback(m_TraceContext, text);
    AddCapped(m_TraceList, text);
}

void CPythonScript::SetTraceCallback(TraceCallback callback, void* context) {
    m_TraceCallback = callback;
    m_TraceContext = context;
}
