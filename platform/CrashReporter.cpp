#include "CrashReporter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "Thread.h"

namespace plat {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kAltStackSize = 128 * 1024;
constexpr int kMaxFrames = 64;
// How far below the lowest stack address a fault still counts as an overflow:
// the guard area of a thread, or the kernel's gap below the main stack.
constexpr uintptr_t kStackGapBytes = 1024 * 1024;

// Written by Install() before the handlers exist; read-only afterwards.
char g_directory[PATH_MAX];
ExceptionCodeNameFunc g_codeName = nullptr;
long g_utcOffsetSeconds = 0;
uintptr_t g_pageSize = 4096;
std::atomic<bool> g_active{false};
// OS id of the thread that writes the report; a second crashing thread waits
// for the process to end instead of writing over it.
std::atomic<int> g_reportingThread{0};

// Stack bounds of the calling thread, recorded outside the handler since
// the queries are not async-signal-safe.
thread_local uintptr_t t_stackLow = 0;
thread_local uintptr_t t_stackHigh = 0;

class AltStack {
public:
    AltStack() : m_Memory(new char[kAltStackSize]) {
        stack_t stack{};
        stack.ss_sp = m_Memory.get();
        stack.ss_size = kAltStackSize;
        m_Installed = sigaltstack(&stack, nullptr) == 0;
    }
    ~AltStack() {
        // The kernel must forget the stack before its memory goes.
        if (!m_Installed) return;
        stack_t disable{};
        disable.ss_flags = SS_DISABLE;
        sigaltstack(&disable, nullptr);
    }
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;

private:
    std::unique_ptr<char[]> m_Memory;
    bool m_Installed = false;
};

thread_local std::unique_ptr<AltStack> t_altStack;

void RecordStackBounds() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0) {
        t_stackLow = reinterpret_cast<uintptr_t>(base);
        t_stackHigh = t_stackLow + size;
    }
    pthread_attr_destroy(&attr);
}

// --- async-signal-safe output -------------------------------------------

void WriteText(int fd, const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(fd, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}

// Formats value into buffer (at least 24 bytes) as decimal.
const char* Decimal(uint64_t value, char* buffer, size_t size) {
    char* end = buffer + size - 1;
    *end = '\0';
    char* at = end;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && at > buffer);
    return at;
}

// Formats value as upper-case hex with exactly `digits` digits (buffer > digits).
const char* Hex(uint64_t value, int digits, char* buffer) {
    static const char kDigits[] = "0123456789ABCDEF";
    buffer[digits] = '\0';
    for (int i = digits - 1; i >= 0; --i) {
        buffer[i] = kDigits[value & 0xF];
        value >>= 4;
    }
    return buffer;
}

void Append(char* target, size_t size, const char* text) {
    const size_t used = std::strlen(target);
    if (used + 1 >= size) return;
    std::strncat(target, text, size - used - 1);
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

void AppendTwoDigits(char* target, size_t size, unsigned value) {
    const char digits[3] = {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10), '\0'};
    Append(target, size, digits);
}

// "<dir>/Crash_YYYYMMDD-HHMMSS_<pid>.txt" in local time.
void BuildReportPath(char* path, size_t size) {
    const int64_t local = static_cast<int64_t>(std::time(nullptr)) + g_utcOffsetSeconds;
    int64_t days = local / 86400;
    int64_t seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    char number[24];
    path[0] = '\0';
    Append(path, size, g_directory);
    Append(path, size, "Crash_");
    Append(path, size, Decimal(static_cast<uint64_t>(year), number, sizeof(number)));
    AppendTwoDigits(path, size, month);
    AppendTwoDigits(path, size, day);
    Append(path, size, "-");
    AppendTwoDigits(path, size, static_cast<unsigned>(seconds / 3600));
    AppendTwoDigits(path, size, static_cast<unsigned>(seconds / 60 % 60));
    AppendTwoDigits(path, size, static_cast<unsigned>(seconds % 60));
    Append(path, size, "_");
    Append(path, size, Decimal(static_cast<uint64_t>(::getpid()), number, sizeof(number)));
    Append(path, size, ".txt");
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGILL: return "SIGILL";
        case SIGFPE: return "SIGFPE";
        case SIGABRT: return "SIGABRT";
        default: return "signal";
    }
}

bool InStackGuard(uintptr_t address) {
    if (t_stackLow == 0) return false;
    const uintptr_t floor = t_stackLow > kStackGapBytes ? t_stackLow - kStackGapBytes : 0;
    // The lowest page of the recorded stack may itself be the guard page.
    return address >= floor && address < t_stackLow + g_pageSize;
}

uintptr_t InstructionAddress(const void* context) {
    if (context == nullptr) return 0;
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

void WriteLabelHex(int fd, const char* label, uint64_t value, int digits) {
    char hex[20];
    WriteText(fd, label);
    WriteText(fd, "0x");
    WriteText(fd, Hex(value, digits, hex));
    WriteText(fd, "\n");
}

void WriteReport(int fd, int signal, const siginfo_t* info, const void* context) {
    char number[24];
    const uintptr_t faultAddress = reinterpret_cast<uintptr_t>(info != nullptr ? info->si_addr : nullptr);
    const int code = info != nullptr ? info->si_code : 0;
    const bool overflow = signal == SIGSEGV && InStackGuard(faultAddress);
    const uint32_t exceptionCode = CrashReporter::ExceptionCodeForSignal(signal, code, overflow);
    const char* name = CurrentThreadName();

    WriteText(fd, "Crash report\nProcess: ");
    WriteText(fd, Decimal(static_cast<uint64_t>(::getpid()), number, sizeof(number)));
    WriteText(fd, "\nThread: ");
    WriteText(fd, name[0] != '\0' ? name : "(unnamed)");
    WriteText(fd, " (id ");
    WriteText(fd, Decimal(static_cast<uint64_t>(CurrentThreadId()), number, sizeof(number)));
    WriteText(fd, ")\nSignal: ");
    WriteText(fd, SignalName(signal));
    WriteText(fd, " (");
    WriteText(fd, Decimal(static_cast<uint64_t>(signal), number, sizeof(number)));
    WriteText(fd, "), code ");
    WriteText(fd, Decimal(static_cast<uint64_t>(static_cast<uint32_t>(code)), number, sizeof(number)));
    WriteText(fd, "\nException: ");
    WriteText(fd, g_codeName != nullptr ? g_codeName(exceptionCode) : "");
    WriteLabelHex(fd, " ", exceptionCode, 8);
    WriteLabelHex(fd, "Address: ", signal == SIGABRT ? 0 : faultAddress, 16);
    WriteLabelHex(fd, "Instruction: ", InstructionAddress(context), 16);
    WriteText(fd, "Call stack:\n");
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);
}

void RestoreDefaultAndRaise(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Blocked while the handler runs; delivered, with the default action,
    // once it returns (a fault would also recur at the faulting instruction).
    raise(signal);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
    const int self = CurrentThreadId();
    int expected = 0;
    if (!g_reportingThread.compare_exchange_strong(expected, self)) {
        if (expected != self) {
            // Another thread is writing the report and will end the process.
            for (;;) ::pause();
        }
        RestoreDefaultAndRaise(signal);
        return;
    }
    char path[PATH_MAX + 64];
    BuildReportPath(path, sizeof(path));
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        WriteReport(fd, signal, info, context);
        ::close(fd);
        WriteText(STDERR_FILENO, "Crash report written to ");
        WriteText(STDERR_FILENO, path);
        WriteText(STDERR_FILENO, "\n");
    } else {
        WriteText(STDERR_FILENO, "Crash report could not be written to ");
        WriteText(STDERR_FILENO, path);
        WriteText(STDERR_FILENO, "\n");
        WriteReport(STDERR_FILENO, signal, info, context);
    }
    RestoreDefaultAndRaise(signal);
}

bool SetDirectory(const std::string& directory) {
    std::string withSlash = directory.empty() ? std::string("./") : directory;
    if (withSlash.back() != '/') withSlash += '/';
    if (withSlash.size() >= sizeof(g_directory)) return false;
    std::error_code ignored;
    std::filesystem::create_directories(withSlash, ignored);
    std::memcpy(g_directory, withSlash.c_str(), withSlash.size() + 1);
    return true;
}

void PrepareThread() {
    if (t_altStack) return;
    t_altStack = std::make_unique<AltStack>();
    RecordStackBounds();
}

}  // namespace

bool CrashReporter::Install(const std::string& reportDirectory, ExceptionCodeNameFunc codeName) {
    static bool installed = false;
    static bool attempted = false;
    if (attempted) return installed;
    attempted = true;
    if (!SetDirectory(reportDirectory)) return false;
    g_codeName = codeName;
    if (const long page = ::sysconf(_SC_PAGESIZE); page > 0) g_pageSize = static_cast<uintptr_t>(page);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) g_utcOffsetSeconds = local.tm_gmtoff;
    // The first backtrace() loads the unwinder, which may allocate: do it now,
    // not inside the handler.
    void* warm[2];
    backtrace(warm, 2);
    PrepareThread();

    struct sigaction action {};
    action.sa_sigaction = &OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    // A second fault while the report is written ends the process at once.
    for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kFatalSignals) {
        if (sigaction(signal, &action, nullptr) != 0) return false;
    }
    installed = true;
    g_active.store(true, std::memory_order_release);
    return true;
}

bool CrashReporter::IsActive() { return g_active.load(std::memory_order_acquire); }

void CrashReporter::PrepareCurrentThread() {
    if (IsActive()) PrepareThread();
}

uint32_t CrashReporter::ExceptionCodeForSignal(int signal, int code, bool inStackGuard) {
    switch (signal) {
        case SIGSEGV: return inStackGuard ? 0xC00000FD : 0xC0000005;
        case SIGBUS: return code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
        case SIGILL: return code == ILL_PRVOPC ? 0xC0000096 : 0xC000001D;
        case SIGABRT: return 0x0EEDFAE2;
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV: return 0xC0000094;
                case FPE_INTOVF: return 0xC0000095;
                case FPE_FLTDIV: return 0xC000008E;
                case FPE_FLTOVF: return 0xC0000091;
                case FPE_FLTUND: return 0xC0000093;
                case FPE_FLTRES: return 0xC000008F;
                case FPE_FLTINV: return 0xC0000090;
                case FPE_FLTSUB: return 0xC000008C;
                default: return 0;
            }
        default: return 0;
    }
}

}  // namespace plat
