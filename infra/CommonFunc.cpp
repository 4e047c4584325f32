#include "infra/CommonFunc.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace {

constexpr int kMaxFrames = 64;

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

// backtrace_symbols gives "module(mangled+0x1d) [0x4005f1]"; the mangled
// part is replaced by its demangled form when it is a C++ name.
std::string DemangleFrame(const char* symbol) {
    std::string line(symbol);
    const size_t open = line.find('(');
    const size_t plus = line.find('+', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || plus == std::string::npos || plus <= open + 1) return line;
    const std::string mangled = line.substr(open + 1, plus - open - 1);
    int status = 0;
    std::unique_ptr<char, FreeDeleter> demangled(abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status));
    if (status != 0 || !demangled) return line;
    return line.substr(0, open + 1) + demangled.get() + line.substr(plus);
}

// Frames from the one that returns to firstReturn on; all frames when it is
// not found (the stack walk may add frames of its own, e.g. interceptors).
std::string CallStackFrames(const void* firstReturn) {
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    std::unique_ptr<char*, FreeDeleter> symbols(backtrace_symbols(frames, count));
    if (!symbols) throw std::runtime_error("backtrace_symbols failed");
    int first = 0;
    while (first < count && frames[first] != firstReturn) ++first;
    if (first == count) first = 0;
    std::string text;
    for (int i = first; i < count; ++i) {
        if (!text.empty()) text += "\r\n";
        text += DemangleFrame(symbols.get()[i]);
    }
    return text;
}

}  // namespace

const char* ExceptionCodeName(uint32_t code) {
    switch (code) {
        case 0x80000001: return "GUARD_PAGE_VIOLATION";
        case 0x80000002: return "DATATYPE_MISALIGNMENT";
        case 0x80000003: return "BREAKPOINT";
        case 0x80000004: return "SINGLE_STEP";
        case 0xC0000005: return "ACCESS_VIOLATION";
        case 0xC0000006: return "IN_PAGE_ERROR";
        case 0xC000001D: return "ILLEGAL_INSTRUCTION";
        case 0xC0000025: return "NONCONTINUABLE_EXCEPTION";
        case 0xC0000026: return "INVALID_DISPOSITION";
        case 0xC000008C: return "ARRAY_BOUNDS_EXCEEDED";
        case 0xC000008D: return "FLOAT_DENORMAL_OPERAND";
        case 0xC000008E: return "FLOAT_DIVIDE_BY_ZERO";
        case 0xC000008F: return "FLOAT_INEXACT_RESULT";
        case 0xC0000090: return "FLOAT_INVALID_OPERATION";
        case 0xC0000091: return "FLOAT_OVERFLOW";
        case 0xC0000092: return "FLOAT_STACK_CHECK";
        case 0xC0000093: return "FLOAT_UNDERFLOW";
        case 0xC0000094: return "INTEGER_DIVIDE_BY_ZERO";
        case 0xC0000095: return "INTEGER_OVERFLOW";
        case 0xC0000096: return "PRIVILEGED_INSTRUCTION";
        case 0xC00000FD: return "STACK_OVERFLOW";
        case kRuntimeRaiseCode: return "RUNTIME_RAISE";
        case kRuntimeReRaiseCode: return "RUNTIME_RERAISE";
        case kRuntimeExceptCode: return "RUNTIME_EXCEPT";
        case kRuntimeFinallyCode: return "RUNTIME_FINALLY";
        case kRuntimeTerminateCode: return "RUNTIME_TERMINATE";
        case kRuntimeUnhandledCode: return "RUNTIME_UNHANDLED";
        case kRuntimeForeignExceptionCode: return "RUNTIME_FOREIGN_EXCEPTION";
        case kRuntimeExitFinallyCode: return "RUNTIME_EXIT_FINALLY";
        case kCppTypedExceptionCode: return "CPP_TYPED_EXCEPTION";
        default: return "UNKNOWN_EXCEPTION";
    }
}

// Not inlined: its return address marks where the caller's frames begin.
__attribute__((noinline)) std::string LastExceptionStackText() {
    const void* callerReturn = __builtin_return_address(0);
    // The caller is already handling a failure; a second one must not escape.
    try {
        return "Exception Call Stack:\r\n" + CallStackFrames(callerReturn);
    } catch (const std::exception& e) {
        try {
            return FormatText("GetLastExceptionCallStackAsText Exception:%s!", e.what());
        } catch (...) {
            return {};
        }
    } catch (...) {
        try {
            return "GetLastExceptionCallStackAsText Exception:unknown!";
        } catch (...) {
            return {};
        }
    }
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

std::string LocalTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const size_t length = std::strftime(text, sizeof(text), format, &local);
    return std::string(text, length);
}
