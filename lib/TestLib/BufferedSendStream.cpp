#include "lib/TestLib/BufferedSendStream.h"

#include <cstdint>
#include <cstring>
#include <exception>

#include "infra/Log.h"
#include "platform/LastError.h"

int BufferedSendStream::SendBuf_o(const char* data, int len) {
    try {
        if (len == 0) return Flush();
        if (len < 0 || data == nullptr) return 0;
        return Queue(data, len);
    } catch (const std::exception&) {
        GetLog()->LogFatal("%s::SendBuf_o, lpData = %d, len = %d", StreamName(),
                           static_cast<int>(reinterpret_cast<intptr_t>(data)), len);
        return 0;
    }
}

char* BufferedSendStream::ReserveTail(int len, int* result) {
    *result = 1;
    try {
        return RoomFor(len, result);
    } catch (const std::exception&) {
        GetLog()->LogFatal("%s::SendBuf_o, lpData = %d, len = %d", StreamName(), 0, len);
        *result = 0;
        return nullptr;
    }
}

char* BufferedSendStream::RoomFor(int len, int* result) {
    if (char* tail = m_Buffer.Tail(len)) return tail;
    if (m_Buffer.Used() > 0) {
        // Whatever happens below ends in a Write: the packet goes into the
        // buffer (flushed at the end of the pass) or out on its own.
        const int written = WriteMore(m_Buffer.Data(), m_Buffer.Used());
        if (written < 1) {
            *result = written;  // the buffer keeps its bytes
            return nullptr;
        }
        m_Buffer.Clear();
    }
    return m_Buffer.Tail(len);
}

int BufferedSendStream::Queue(const char* data, int len) {
    int result = 1;
    if (char* tail = RoomFor(len, &result)) {
        std::memcpy(tail, data, static_cast<size_t>(len));
        m_Buffer.Commit(len);
        return len;
    }
    if (result < 1) return result;
    // Larger than the buffer itself: goes out on its own.
    return Write(data, len);
}

int BufferedSendStream::Flush() {
    if (m_Buffer.Used() == 0) {
        plat::SetLastError(NOTHING_TO_SEND);
        return 0;
    }
    const int written = Write(m_Buffer.Data(), m_Buffer.Used());
    if (written > 0 || ClearAfterFailedFlush()) m_Buffer.Clear();
    return written;
}
