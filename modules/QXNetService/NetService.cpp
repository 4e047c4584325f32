#include "modules/QXNetService/NetService.h"

#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

namespace {

// A gathered write takes at most this many queued messages (the iovec count
// Asio hands to one writev) and stops adding messages past this many bytes.
constexpr size_t kMaxWriteBuffers = 64;
constexpr size_t kMaxWriteBytes = 256 * 1024;

// SendToMore holds at most this many bytes for the next write; a burst past
// it goes to the kernel (still with MSG_MORE) a piece at a time.
constexpr size_t kMaxHeldBytes = 64 * 1024;

constexpr int kDefaultMaxSendBufferBytes = 0x20000000;
constexpr int kDefaultMaxRecvBacklogBytes = 1024 * 1024;
constexpr int kDefaultMaxSendMsgQueueCount = 100;
constexpr int kDefaultRefuseConnectByRecvQueue = 10000;
constexpr int kDefaultRefuseConnectBySendQueue = 50000;
constexpr int kDefaultHackAttackValue = 50;

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);

bool IsKnownParam(int id) {
    switch (id) {
        case NETPARAM_MAX_SEND_BUFFER_BYTES:
        case NETPARAM_MAX_RECV_BACKLOG_BYTES:
        case NETPARAM_MAX_SEND_MSG_QUEUE_COUNT:
        case NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE:
        case NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE:
        case NETPARAM_HACK_ATTACK_VALUE:
            return true;
        default:
            return false;
    }
}

bool IsCloseKind(int kind) {
    return kind == NET_MSG_ON_CLIENTDISCONNECT || kind == NET_MSG_ON_CONNECT_ERROR || kind == NET_MSG_ON_CLIENTCLOSE;
}

// A limit of 0 or below means "no limit".
bool Exceeds(uint64_t value, int limit) { return limit > 0 && value > static_cast<uint64_t>(limit); }

}  // namespace

CNetService::CNetService() {
    m_Params[NETPARAM_MAX_SEND_BUFFER_BYTES] = kDefaultMaxSendBufferBytes;
    m_Params[NETPARAM_MAX_RECV_BACKLOG_BYTES] = kDefaultMaxRecvBacklogBytes;
    m_Params[NETPARAM_MAX_SEND_MSG_QUEUE_COUNT] = kDefaultMaxSendMsgQueueCount;
    m_Params[NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE] = kDefaultRefuseConnectByRecvQueue;
    m_Params[NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE] = kDefaultRefuseConnectBySendQueue;
    m_Params[NETPARAM_HACK_ATTACK_VALUE] = kDefaultHackAttackValue;
}

CNetService::~CNetService() {
    StopListen();
    JoinReaper();
    {
        std::lock_guard lock(m_Lock);
        m_Slots.clear();
        m_Queue.Clear();
    }
    m_AcceptRetry.reset();
    m_Acceptor.reset();
    // Every socket of the driver's context is gone: it may go too.
    if (m_Driver != nullptr) m_Driver->Release();
}

template <typename Handler>
auto CNetService::Counted(Handler handler) {
    m_QueuedWork.fetch_add(1, std::memory_order_relaxed);
    return [this, handler = std::move(handler)](auto&&... args) mutable {
        struct Done {
            std::atomic<int>& count;
            ~Done() { count.fetch_sub(1, std::memory_order_release); }
        } done{m_QueuedWork};
        handler(std::forward<decltype(args)>(args)...);
    };
}

bool CNetService::SetIoDriver(INetIoDriver* driver) {
    std::lock_guard control(m_ControlLock);
    // Sockets of an earlier listen may outlive it in their slots, and they
    // belong to the context they were made on.
    if (driver == nullptr || m_EverStarted) return false;
    if (m_Driver == driver) return true;
    driver->AddRef();
    if (m_Driver != nullptr) m_Driver->Release();
    m_Driver = static_cast<CNetIoDriver*>(driver);
    return true;
}

void CNetService::Release() { delete this; }

// ---------------------------------------------------------------------------
// Start and stop
// ---------------------------------------------------------------------------

bool CNetService::StartListen(uint16_t port, int count) {
    std::lock_guard control(m_ControlLock);
    if (count < 1) return false;
    {
        std::lock_guard lock(m_Lock);
        if (m_Listening) return false;
    }
    // No work of this service runs now (the last StopListen drained it), so
    // the acceptor is ours alone.
    std::error_code error;
    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::any(), port);
    m_AcceptRetry.reset();
    m_Acceptor.emplace(Io());
    m_Acceptor->open(endpoint.protocol(), error);
    if (!error) m_Acceptor->set_option(asio::socket_base::reuse_address(true), error);
    if (!error) m_Acceptor->bind(endpoint, error);
    if (!error) m_Acceptor->listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        std::error_code ignored;
        m_Acceptor->close(ignored);
        return false;
    }
    m_AcceptRetry.emplace(Io());
    m_EverStarted = true;
    {
        std::lock_guard lock(m_Lock);
        m_Port = m_Acceptor->local_endpoint(error).port();
        m_SlotCount = count;
        if (m_Slots.size() < static_cast<size_t>(count)) m_Slots.resize(static_cast<size_t>(count));
        m_FreeSlots.clear();
        // A slot whose last close message still waits stays taken until it is drained.
        for (int index = 0; index < count; ++index) {
            if (!m_Slots[static_cast<size_t>(index)].connection) m_FreeSlots.insert(index);
        }
        m_Listening = true;
        m_Stats.Set(NETVALUE_MAX_CLIENT, static_cast<uint64_t>(count));
        PublishGaugesLocked();
    }
    if (m_Driver != nullptr) {
        StartAccept();
        m_IoStarted = true;
        return true;
    }
    m_Io.restart();
    m_Work.emplace(m_Io.get_executor());
    StartAccept();
    try {
        m_IoThread = std::thread([this] { RunIoThread(); });
    } catch (const std::system_error&) {
        // Without a thread nothing would ever run: undo the whole start.
        m_Work.reset();
        CloseAllOnIoThread();
        m_Io.run();
        std::lock_guard lock(m_Lock);
        m_Listening = false;
        m_Port = 0;
        return false;
    }
    m_IoStarted = true;
    return true;
}

void CNetService::StopListen() {
    std::lock_guard control(m_ControlLock);
    if (!m_IoStarted) return;
    m_IoStarted = false;
    {
        std::lock_guard lock(m_Lock);
        m_Listening = false;
        m_Port = 0;
        m_FreeSlots.clear();
        for (auto& slot : m_Slots) {
            if (slot.connection && !slot.connection->closing) {
                RequestCloseLocked(slot.connection, NET_MSG_ON_CLIENTCLOSE, 0);
            }
        }
    }
    asio::post(Io(), Counted([this] { CloseAllOnIoThread(); }));
    if (m_Driver != nullptr) {
        StopDriven();
    } else {
        StopOwnThread();
    }
}

void CNetService::StopDriven() {
    // The posted closes queue their messages and cancel every operation;
    // the cancelled ones complete as work of their own.
    m_Driver->RunUntil([this] { return m_QueuedWork.load(std::memory_order_acquire) == 0; });
}

void CNetService::StopOwnThread() {
    // run() returns once the posted closes have queued their messages and
    // every cancelled operation has completed.
    m_Work.reset();
    m_IoThread.join();
    m_IoThread = std::thread();
}

void CNetService::CloseAllOnIoThread() {
    std::error_code ignored;
    m_Acceptor->close(ignored);
    m_AcceptRetry->cancel();
}

void CNetService::RunIoThread() {
    pthread_setname_np(pthread_self(), "QXNetService IO");
    // The thread hands every read to the process thread; without wake-up
    // preemption that thread takes over when this one has queued all that
    // was ready, not after the first record (a refusal only costs speed).
    const sched_param normalPriority{};
    sched_setscheduler(0, SCHED_BATCH, &normalPriority);
    for (;;) {
        try {
            m_Io.run();
            return;
        } catch (const std::exception&) {
            // A handler that threw (out of memory) lost only its own
            // operation; the others must go on being served.
        }
    }
}

bool CNetService::IsListening() {
    std::lock_guard lock(m_Lock);
    return m_Listening;
}

uint16_t CNetService::GetListenPort() {
    std::lock_guard lock(m_Lock);
    return m_Port;
}

int CNetService::GetMaxClient() {
    std::lock_guard lock(m_Lock);
    return m_SlotCount;
}

// ---------------------------------------------------------------------------
// Accepting
// ---------------------------------------------------------------------------

void CNetService::OpBegun() {
    m_Stats.Add(NETVALUE_OPCOUNT);
    m_Stats.Add(NETVALUE_ALLOCED_OPCOUNT);
}

void CNetService::OpEnded() { m_Stats.Sub(NETVALUE_OPCOUNT); }

void CNetService::StartAccept() {
    OpBegun();
    m_Acceptor->async_accept(Counted([this](const std::error_code& error, asio::ip::tcp::socket socket) {
        OnAccept(error, std::move(socket));
    }));
}

int CNetService::RefusalStatisticLocked() const {
    if (m_FreeSlots.empty()) return NETVALUE_MAX_CONNECT_REFUSE_COUNT;
    if (Exceeds(m_Queue.Count(), ParamLocked(NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE))) {
        return NETVALUE_REFUSE_CONNECTBYRECV_COUNT;
    }
    if (Exceeds(m_PendingSendMessages, ParamLocked(NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE))) {
        return NETVALUE_REFUSE_CONNECTBYSEND_COUNT;
    }
    return -1;
}

int CNetService::TakeFreeSlotLocked() {
    const int index = *m_FreeSlots.begin();
    m_FreeSlots.erase(m_FreeSlots.begin());
    return index;
}

void CNetService::OnAccept(const std::error_code& error, asio::ip::tcp::socket socket) {
    OpEnded();
    if (error == asio::error::operation_aborted) return;
    if (error) {
        m_Stats.Add(NETVALUE_POST_ACCEPT_ERR_COUNT);
        m_Stats.Add(NETVALUE_RET_ERROR_COUNT);
        if (!IsListening()) return;
        // Out of descriptors, typically: try again a little later rather
        // than spinning on the same failure.
        m_AcceptRetry->expires_after(kAcceptRetryDelay);
        m_AcceptRetry->async_wait(Counted([this](const std::error_code& waitError) {
            if (!waitError) StartAccept();
        }));
        return;
    }
    std::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);

    ConnectionPtr connection;
    PendingNotify notify;
    {
        std::lock_guard lock(m_Lock);
        if (!m_Listening) return;  // StopListen is on its way; the socket closes with us
        const int refusal = RefusalStatisticLocked();
        if (refusal >= 0) {
            m_Stats.Add(static_cast<ENetValue>(refusal));
        } else {
            const int index = TakeFreeSlotLocked();
            Slot& slot = m_Slots[static_cast<size_t>(index)];
            if (!slot.client) {
                slot.client = std::make_unique<CNetClient>(index);
                notify = PushLocked(index, NET_MSG_ON_CLIENTCREATE, 0);
            }
            const int descriptor = static_cast<int>(socket.native_handle());
            connection = std::make_shared<CNetConnection>(std::move(socket), index);
            slot.connection = connection;
            slot.client->OnConnected(descriptor, peer.address().to_string(), peer.port());
            ++m_Online;
            const PendingNotify connected = PushLocked(index, NET_MSG_ON_CLIENTCONNECT, 0);
            if (notify.callback == nullptr) notify = connected;
            PublishGaugesLocked();
        }
    }
    if (!connection) {
        socket.close(ignored);  // refused: the peer sees its connection end at once
    } else {
        notify.Fire();
        StartRead(connection);
    }
    StartAccept();
}

// ---------------------------------------------------------------------------
// Receiving
// ---------------------------------------------------------------------------

void CNetService::StartRead(const ConnectionPtr& connection) {
    OpBegun();
    ReadNow(connection);
}

void CNetService::ReadNow(const ConnectionPtr& connection) {
    std::vector<std::unique_ptr<tagNetMsg>>& records = connection->readRecords;
    {
        // A close decided meanwhile may already have closed the descriptor
        // (FinishClose runs on this side too), and its number may be reused.
        std::lock_guard lock(m_Lock);
        if (connection->closing) {
            OpEnded();
            return;
        }
        if (records.size() < connection->readRecordsWanted) {
            m_Queue.TakeRecords(connection->readRecordsWanted - records.size(), &records);
        }
    }
    iovec parts[CNetConnection::kMaxReadRecords + 1];
    size_t count = 0;
    for (const std::unique_ptr<tagNetMsg>& record : records) parts[count++] = iovec{record->data, kNetMsgDataSize};
    const size_t room = count * kNetMsgDataSize;
    if (room < CNetConnection::kReadChunkBytes) {
        parts[count++] = iovec{connection->ReadOverflow(), CNetConnection::kReadChunkBytes - room};
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    ssize_t got;
    do {
        got = ::recvmsg(connection->Descriptor(), &message, MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        AwaitReadable(connection);
        return;
    }
    std::error_code error;
    if (got < 0) error = std::error_code(errno, asio::error::get_system_category());
    OnRead(connection, error, got < 0 ? 0 : static_cast<size_t>(got));
}

void CNetService::AwaitReadable(const ConnectionPtr& connection) {
    // Only this side polls the sockets, and not before the running handler
    // returns, so bytes that arrive after the read that found the socket
    // empty still raise the readiness this wait is queued for.
    connection->Socket().async_wait(asio::socket_base::wait_read,
                                    Counted([this, connection](const std::error_code& error) {
                                        if (error) {
                                            OnRead(connection, error, 0);
                                        } else {
                                            ReadNow(connection);
                                        }
                                    }));
}

void CNetService::OnRead(const ConnectionPtr& connection, const std::error_code& error, size_t bytes) {
    OpEnded();
    PendingNotify notify;
    bool readOn = false;
    {
        std::lock_guard lock(m_Lock);
        if (connection->closing) return;
        const int index = connection->PoolIndex();
        CNetClient& client = *m_Slots[static_cast<size_t>(index)].client;
        if (!error && bytes > 0) {
            m_Stats.Add(NETVALUE_RECV_TOTAL_BYTE, bytes);
            client.OnRecv(bytes);
            int records = 0;
            notify = PushReadLocked(*connection, bytes, &records);
            connection->recvBacklog += bytes;
            if (connection->CountRecordsAreFlood(CNetClient::NowMs(), ParamLocked(NETPARAM_HACK_ATTACK_VALUE),
                                                 records)) {
                m_Stats.Add(NETVALUE_FIND_HACKER_KICK_OUT);
                RequestCloseLocked(connection, NET_MSG_ON_CLIENTCLOSE, NETVALUE_FIND_HACKER_KICK_OUT);
            } else if (Exceeds(connection->recvBacklog + 1, ParamLocked(NETPARAM_MAX_RECV_BACKLOG_BYTES))) {
                // The backlog reached the bound: stop reading, so a peer
                // that floods fills its own socket buffers instead of ours.
                connection->recvPaused = true;
                client.SetRecvPaused(true);
                PushLocked(index, NET_MSG_ON_CLIENTNOTIFY, 1);
            } else {
                readOn = true;
            }
        } else if (!error || error == asio::error::eof) {
            m_Stats.Add(NETVALUE_CLIENTNORMAL_DIS_COUNT);
            RequestCloseLocked(connection, NET_MSG_ON_CLIENTDISCONNECT, 0);
        } else {
            m_Stats.Add(NETVALUE_POST_RECV_ERR_COUNT);
            m_Stats.Add(NETVALUE_RET_ERROR_COUNT);
            RequestCloseLocked(connection, NET_MSG_ON_CONNECT_ERROR, error.value());
        }
        PublishGaugesLocked();
    }
    notify.Fire();
    if (!readOn) return;
    if (bytes == CNetConnection::kReadChunkBytes) {
        // More may be waiting: read again after the work queued meanwhile,
        // so one busy peer does not hold the other connections up.
        asio::post(Io(), Counted([this, connection] { StartRead(connection); }));
    } else {
        // A short read emptied the socket: a read now would find nothing,
        // so wait for the next bytes instead.
        OpBegun();
        AwaitReadable(connection);
    }
}

void CNetService::OnResume(const ConnectionPtr& connection) {
    PendingNotify notify;
    {
        std::lock_guard lock(m_Lock);
        connection->resumeRequested = false;
        if (connection->closing || !connection->recvPaused) return;
        connection->recvPaused = false;
        m_Slots[static_cast<size_t>(connection->PoolIndex())].client->SetRecvPaused(false);
        notify = PushLocked(connection->PoolIndex(), NET_MSG_ON_CLIENTNOTIFY, 0);
        PublishGaugesLocked();
    }
    notify.Fire();
    StartRead(connection);
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

int CNetService::SendTo(int poolIndex, const char* data, int len) { return Send(poolIndex, data, len, 0); }

int CNetService::SendToMore(int poolIndex, const char* data, int len) {
    return Send(poolIndex, data, len, MSG_MORE);
}

int CNetService::Send(int poolIndex, const char* data, int len, int flags) {
    std::lock_guard lock(m_Lock);
    const ConnectionPtr connection = LiveConnectionLocked(poolIndex);
    if (!connection || data == nullptr || len <= 0) {
        m_Stats.Add(NETVALUE_DROP_PACK_COUNT);
        return 0;
    }
    m_Stats.Add(NETVALUE_PUSH_SEND_MSG_TOTAL);
    m_Stats.Add(NETVALUE_COMMIT_SEND_TOTALBYTE, static_cast<uint64_t>(len));
    const size_t length = static_cast<size_t>(len);
    if (!connection->writing && (flags & MSG_MORE) != 0 && connection->held.size() + length <= kMaxHeldBytes) {
        connection->held.append(data, length);
        ++connection->heldMessages;
        return 1;
    }
    size_t offset = 0;
    std::string_view heldTail;
    if (!connection->writing) {
        // Nothing queued or in flight: hand the bytes to the socket at once,
        // so the queue only ever holds what the peer is not taking.
        int error = 0;
        const size_t held = connection->held.size();
        const size_t written = WriteDirectLocked(*connection, data, length, flags, &error);
        if (error != 0) {
            m_Stats.Add(NETVALUE_POST_SEND_ERR_COUNT);
            m_Stats.Add(NETVALUE_RET_ERROR_COUNT);
            m_Stats.Add(NETVALUE_DROP_PACK_COUNT);
            RequestCloseLocked(connection, NET_MSG_ON_CONNECT_ERROR, error);
            PublishGaugesLocked();
            return 0;
        }
        if (written < held) {
            heldTail = std::string_view(connection->held).substr(written);
        } else {
            m_Stats.Add(NETVALUE_POP_SEND_MSG_TOTAL, connection->heldMessages);
            offset = written - held;
        }
    }
    int result = 1;
    if (offset == length) {
        m_Stats.Add(NETVALUE_POP_SEND_MSG_TOTAL);
    } else {
        result = QueueLocked(connection, heldTail, data + offset, length - offset);
        // The held messages cut short go out as one queued message; the
        // others count as written now, so the written count still reaches
        // the accepted count.
        if (result == 1 && !heldTail.empty()) {
            m_Stats.Add(NETVALUE_POP_SEND_MSG_TOTAL, connection->heldMessages - 1);
        }
    }
    connection->held.clear();
    connection->heldMessages = 0;
    return result;
}

int CNetService::QueueLocked(const ConnectionPtr& connection, std::string_view heldTail, const char* data,
                             size_t len) {
    const size_t messages = (heldTail.empty() ? 0 : 1) + 1;
    const size_t rest = heldTail.size() + len;
    // A stream with a hole in it is worth nothing to the peer, so a send
    // limit ends the connection rather than dropping this one message.
    if (Exceeds(connection->UnsentBytes() + rest, ParamLocked(NETPARAM_MAX_SEND_BUFFER_BYTES)) ||
        Exceeds(connection->QueuedMessages() + messages, ParamLocked(NETPARAM_MAX_SEND_MSG_QUEUE_COUNT))) {
        m_Stats.Add(NETVALUE_MAXQUEUE_KICKOUT);
        m_Stats.Add(NETVALUE_DROP_PACK_COUNT);
        RequestCloseLocked(connection, NET_MSG_ON_CLIENTCLOSE, NETVALUE_MAXQUEUE_KICKOUT);
        PublishGaugesLocked();
        return 0;
    }
    const size_t queuedBefore = connection->QueuedMessages();
    if ((!heldTail.empty() && !connection->Append(heldTail.data(), heldTail.size())) ||
        !connection->Append(data, len)) {
        // Out of memory for the queue: as with a bound, the stream would
        // have a hole, so the connection ends.
        m_Stats.Add(NETVALUE_MAXQUEUE_KICKOUT);
        m_Stats.Add(NETVALUE_DROP_PACK_COUNT);
        RequestCloseLocked(connection, NET_MSG_ON_CLIENTCLOSE, NETVALUE_MAXQUEUE_KICKOUT);
        PublishGaugesLocked();
        return 0;
    }
    if (queuedBefore == 0) ++m_ConnectionsWithUnsent;
    m_PendingSendMessages += messages;
    m_PendingSendBytes += rest;
    if (!connection->writing) {
        connection->writing = true;
        asio::post(Io(), Counted([this, connection] { StartWrite(connection); }));
    }
    PublishSendStateLocked(*connection);
    PublishGaugesLocked();
    return 1;
}

size_t CNetService::WriteDirectLocked(CNetConnection& connection, const char* data, size_t len, int flags,
                                      int* error) {
    m_Stats.Add(NETVALUE_NETMSG_WRITECOUNT);
    iovec parts[2];
    size_t count = 0;
    if (!connection.held.empty()) parts[count++] = iovec{connection.held.data(), connection.held.size()};
    parts[count++] = iovec{const_cast<char*>(data), len};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    const size_t total = connection.held.size() + len;
    ssize_t wrote;
    do {
        wrote = ::sendmsg(connection.Descriptor(), &message, MSG_DONTWAIT | MSG_NOSIGNAL | flags);
    } while (wrote < 0 && errno == EINTR);
    if (wrote < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        *error = errno;
        return 0;
    }
    const size_t written = static_cast<size_t>(wrote);
    if (written < total) m_Stats.Add(NETVALUE_NETMSG_WSASEND_RETRY);
    m_Stats.Add(NETVALUE_SEND_TOTAL_BYTE, written);
    m_Slots[static_cast<size_t>(connection.PoolIndex())].client->OnSent(written);
    return written;
}

void CNetService::StartWrite(const ConnectionPtr& connection) {
    std::vector<asio::const_buffer> buffers;
    size_t requested = 0;
    {
        std::lock_guard lock(m_Lock);
        if (connection->closing) return;
        requested = connection->GatherBatch(buffers, kMaxWriteBuffers, kMaxWriteBytes);
        if (requested == 0) {
            connection->writing = false;
            return;
        }
        connection->inFlightBytes = requested;
        PublishSendStateLocked(*connection);
        m_Stats.Add(NETVALUE_NETMSG_WSASEND_PENDING);
        m_Stats.Add(NETVALUE_NETMSG_WRITECOUNT);
    }
    OpBegun();
    connection->Socket().async_write_some(
        buffers, Counted([this, connection, requested](const std::error_code& error, size_t bytes) {
            OnWrite(connection, error, bytes, requested);
        }));
}

void CNetService::OnWrite(const ConnectionPtr& connection, const std::error_code& error, size_t bytes,
                          size_t requested) {
    OpEnded();
    bool writeOn = false;
    {
        std::lock_guard lock(m_Lock);
        m_Stats.Sub(NETVALUE_NETMSG_WSASEND_PENDING);
        if (connection->closing) return;
        connection->inFlightBytes = 0;
        CNetClient& client = *m_Slots[static_cast<size_t>(connection->PoolIndex())].client;
        if (error || bytes == 0) {
            if (!error) m_Stats.Add(NETVALUE_NETMSG_WSASEND_RETURN_ZERO);
            m_Stats.Add(NETVALUE_POST_SEND_ERR_COUNT);
            m_Stats.Add(NETVALUE_RET_ERROR_COUNT);
            RequestCloseLocked(connection, NET_MSG_ON_CONNECT_ERROR, error ? error.value() : EIO);
            PublishGaugesLocked();
            return;
        }
        if (bytes < requested) m_Stats.Add(NETVALUE_NETMSG_WSASEND_RETRY);
        const size_t completed = connection->Consume(bytes);
        m_Stats.Add(NETVALUE_SEND_TOTAL_BYTE, bytes);
        m_Stats.Add(NETVALUE_POP_SEND_MSG_TOTAL, completed);
        client.OnSent(bytes);
        m_PendingSendMessages -= completed;
        m_PendingSendBytes -= bytes;
        if (connection->QueuedMessages() == 0) {
            --m_ConnectionsWithUnsent;
            connection->writing = false;
        } else {
            writeOn = true;
        }
        PublishSendStateLocked(*connection);
        PublishGaugesLocked();
    }
    if (writeOn) StartWrite(connection);
}

// ---------------------------------------------------------------------------
// Closing
// ---------------------------------------------------------------------------

void CNetService::RequestCloseLocked(const ConnectionPtr& connection, int kind, int param) {
    if (connection->closing) return;
    connection->closing = true;
    if (connection->QueuedMessages() > 0) --m_ConnectionsWithUnsent;
    m_PendingSendMessages -= connection->QueuedMessages();
    m_PendingSendBytes -= connection->UnsentBytes();
    --m_Online;
    if (kind == NET_MSG_ON_CLIENTCLOSE) m_Stats.Add(NETVALUE_INITIATIVE_CLOSESOCKET_COUNT);
    m_Slots[static_cast<size_t>(connection->PoolIndex())].client->OnClosing();
    // The close message is queued on the I/O thread, after any completion
    // already running there, so it is always the connection's last message.
    asio::post(Io(), Counted([this, connection, kind, param] { FinishClose(connection, kind, param); }));
}

void CNetService::FinishClose(const ConnectionPtr& connection, int kind, int param) {
    PendingNotify notify;
    CSendChunkQueue dropped;
    {
        std::lock_guard lock(m_Lock);
        notify = PushLocked(connection->PoolIndex(), kind, param);
        dropped = connection->TakeQueue();
        PublishGaugesLocked();
    }
    notify.Fire();
    ReleaseQueue(std::move(dropped));
    // shutdown first: the peer gets its FIN even if a descriptor copy lingers.
    std::error_code ignored;
    connection->Socket().shutdown(asio::socket_base::shutdown_both, ignored);
    connection->Socket().close(ignored);
}

void CNetService::ReleaseQueue(CSendChunkQueue queue) {
    // Below this, unmapping takes well under a millisecond: not worth a thread.
    constexpr uint64_t kReapInThreadBytes = 16ull << 20;
    if (queue.ReservedBytes() < kReapInThreadBytes) return;  // freed here, on return
    JoinReaper();
    try {
        m_Reaper = std::thread([dropped = std::move(queue)]() mutable { dropped.Clear(); });
    } catch (const std::system_error&) {
        // No thread to be had: the queue is freed here after all.
    }
}

void CNetService::JoinReaper() {
    if (m_Reaper.joinable()) m_Reaper.join();
}

void CNetService::CloseClient(int poolIndex) {
    std::lock_guard lock(m_Lock);
    const ConnectionPtr connection = LiveConnectionLocked(poolIndex);
    if (!connection) return;
    RequestCloseLocked(connection, NET_MSG_ON_CLIENTCLOSE, 0);
    PublishGaugesLocked();
}

// ---------------------------------------------------------------------------
// The message queue
// ---------------------------------------------------------------------------

CNetService::PendingNotify CNetService::PushLocked(int poolIndex, int kind, int param, const char* data, int len) {
    const bool wasEmpty = m_Queue.Push(poolIndex, kind, param, data, len);
    m_Stats.Add(NETVALUE_PUSH_RECV_MSG_TOTAL);
    if (!wasEmpty) return {};
    return PendingNotify{m_Notify, m_NotifyContext};
}

CNetService::PendingNotify CNetService::PushChunkLocked(int poolIndex, const char* data, size_t len, int* records) {
    PendingNotify notify;
    for (size_t offset = 0; offset < len; offset += kNetMsgDataSize) {
        const size_t part = std::min(len - offset, static_cast<size_t>(kNetMsgDataSize));
        const PendingNotify pushed = PushLocked(poolIndex, NET_MSG_ON_RECV, 0, data + offset, static_cast<int>(part));
        if (notify.callback == nullptr) notify = pushed;
        ++*records;
    }
    return notify;
}

CNetService::PendingNotify CNetService::PushReadLocked(CNetConnection& connection, size_t len, int* records) {
    PendingNotify notify;
    std::vector<std::unique_ptr<tagNetMsg>>& filled = connection.readRecords;
    size_t offset = 0;
    size_t used = 0;
    for (; used < filled.size() && offset < len; ++used) {
        const size_t part = std::min(len - offset, static_cast<size_t>(kNetMsgDataSize));
        const bool wasEmpty = m_Queue.PushFilled(std::move(filled[used]), connection.PoolIndex(), static_cast<int>(part));
        m_Stats.Add(NETVALUE_PUSH_RECV_MSG_TOTAL);
        if (wasEmpty && notify.callback == nullptr) notify = PendingNotify{m_Notify, m_NotifyContext};
        offset += part;
        ++*records;
    }
    filled.erase(filled.begin(), filled.begin() + static_cast<std::ptrdiff_t>(used));
    if (offset < len) {
        const PendingNotify pushed = PushChunkLocked(connection.PoolIndex(), connection.ReadOverflow(), len - offset, records);
        if (notify.callback == nullptr) notify = pushed;
    }
    // The next read is given as many records as this one filled, and one
    // more, so a steady peer's reads land in records and an idle one holds few.
    connection.readRecordsWanted =
        std::min(CNetConnection::kMaxReadRecords, (len + kNetMsgDataSize - 1) / kNetMsgDataSize + 1);
    while (filled.size() > connection.readRecordsWanted) {
        m_Queue.GiveBack(std::move(filled.back()));
        filled.pop_back();
    }
    return notify;
}

bool CNetService::GetMsg(tagNetMsg* msg) {
    if (msg == nullptr) return false;
    std::lock_guard lock(m_Lock);
    if (!m_Queue.Pop(msg)) return false;
    m_Stats.Add(NETVALUE_POP_RECV_MSG_TOTAL);
    AfterPopLocked(*msg);
    PublishGaugesLocked();
    return true;
}

void CNetService::AfterPopLocked(const tagNetMsg& msg) {
    if (msg.poolIndex < 0 || static_cast<size_t>(msg.poolIndex) >= m_Slots.size()) return;
    Slot& slot = m_Slots[static_cast<size_t>(msg.poolIndex)];
    const ConnectionPtr connection = slot.connection;
    if (!connection) return;
    if (IsCloseKind(msg.msgType)) {
        // Every message of the connection has now been handed out.
        slot.connection.reset();
        slot.client->OnFreed();
        if (m_Listening && msg.poolIndex < m_SlotCount) m_FreeSlots.insert(msg.poolIndex);
        return;
    }
    if (msg.msgType != NET_MSG_ON_RECV) return;
    connection->recvBacklog -= static_cast<uint64_t>(msg.dataLen);
    if (!connection->recvPaused || connection->resumeRequested || connection->closing) return;
    const int bound = ParamLocked(NETPARAM_MAX_RECV_BACKLOG_BYTES);
    if (bound > 0 && connection->recvBacklog > static_cast<uint64_t>(bound / 2)) return;
    connection->resumeRequested = true;
    asio::post(Io(), Counted([this, connection] { OnResume(connection); }));
}

void CNetService::SetMsgNotify(NetMsgNotify callback, void* context) {
    std::lock_guard lock(m_Lock);
    m_Notify = callback;
    m_NotifyContext = context;
}

int CNetService::GetMsgCount() {
    std::lock_guard lock(m_Lock);
    return static_cast<int>(m_Queue.Count());
}

// ---------------------------------------------------------------------------
// Slots, parameters, statistics
// ---------------------------------------------------------------------------

CNetService::ConnectionPtr CNetService::LiveConnectionLocked(int poolIndex) const {
    if (poolIndex < 0 || static_cast<size_t>(poolIndex) >= m_Slots.size()) return nullptr;
    const ConnectionPtr& connection = m_Slots[static_cast<size_t>(poolIndex)].connection;
    if (!connection || connection->closing) return nullptr;
    return connection;
}

QXNetClient* CNetService::GetClient(int poolIndex) {
    std::lock_guard lock(m_Lock);
    if (poolIndex < 0 || static_cast<size_t>(poolIndex) >= m_Slots.size()) return nullptr;
    return m_Slots[static_cast<size_t>(poolIndex)].client.get();
}

int CNetService::GetOnlineCount() {
    std::lock_guard lock(m_Lock);
    return m_Online;
}

bool CNetService::SetParam(int id, int value) {
    if (!IsKnownParam(id)) return false;
    std::lock_guard lock(m_Lock);
    m_Params[static_cast<size_t>(id)] = value;
    return true;
}

int CNetService::GetParam(int id) {
    if (!IsKnownParam(id)) return 0;
    std::lock_guard lock(m_Lock);
    return ParamLocked(id);
}

void CNetService::PublishSendStateLocked(const CNetConnection& connection) {
    const uint64_t unsent = connection.UnsentBytes();
    const uint64_t inFlight = connection.inFlightBytes;
    m_Slots[static_cast<size_t>(connection.PoolIndex())].client->SetSendState(
        inFlight > 0, static_cast<uint32_t>(inFlight), static_cast<uint32_t>(unsent - inFlight));
}

void CNetService::PublishGaugesLocked() {
    m_Stats.Set(NETVALUE_RECV_QUEUE, m_Queue.Count());
    m_Stats.Set(NETVALUE_SEND_QUEUE, m_PendingSendMessages);
    m_Stats.Set(NETVALUE_SEND_STREAM_SIZE, m_PendingSendBytes);
    m_Stats.Set(NETVALUE_FREE_CLIENT_POOL, m_FreeSlots.size());
    m_Stats.Set(NETVALUE_WAIT_PROCESS_SENDCOUNT, m_ConnectionsWithUnsent);
    m_Stats.Set(NETVALUE_NETMSG_OBJPOOL_COUNT, m_Queue.AllocatedRecords());
    m_Stats.Set(NETVALUE_NETMSG_OBJPOOL_FREE_COUNT, m_Queue.FreeRecords());
}
