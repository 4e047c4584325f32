// The listening network service of the QXNetService module: one object per
// listening port, created by the module's exported GetQXNetServiceInstance()
// and destroyed by its Release(). It accepts TCP connections into a fixed
// number of connection slots, reads them on its own I/O thread into one
// message queue that the owner drains with GetMsg(), and writes what SendTo()
// queues. Every operation may be called from any thread; the owner is expected
// to drain the queue from one thread. A service given an I/O driver
// (SetIoDriver) has no I/O thread: its network work runs on the thread that
// calls the driver's RunFor, typically the thread that drains the queue.
//
// The program calls the operations by their position in the table of virtual
// operations, so the order of the declarations is part of the module's
// interface: never reorder, only replace a Reserved entry.
#pragma once

#include <cstddef>
#include <cstdint>

class INetIoDriver;

// ---------------------------------------------------------------------------
// Message record filled by GetMsg(): 4112 bytes, 32-bit little-endian fields.
//
//   offset 0     poolIndex  connection slot the message is about
//   offset 4     msgType    one of the NET_MSG_* kinds below
//   offset 8     param      kind-specific detail (see the kinds)
//   offset 12    data       received bytes (kind 101 only), at most 4096
//   offset 4108  dataLen    number of valid bytes in data
// ---------------------------------------------------------------------------
inline constexpr int kNetMsgDataSize = 4096;

struct tagNetMsg {
    int32_t poolIndex;
    int32_t msgType;
    int32_t param;
    char data[kNetMsgDataSize];
    int32_t dataLen;
};
static_assert(sizeof(tagNetMsg) == 4112, "the message record is 4112 bytes");
static_assert(offsetof(tagNetMsg, poolIndex) == 0);
static_assert(offsetof(tagNetMsg, msgType) == 4);
static_assert(offsetof(tagNetMsg, param) == 8);
static_assert(offsetof(tagNetMsg, data) == 12);
static_assert(offsetof(tagNetMsg, dataLen) == 4108);

// Message kinds, in the order one connection produces them:
//   109 once per slot, the first time the slot gets its client object (the
//       objects are created once and reused by later connections), before
//   103 a connection was accepted into the slot;
//   101 received bytes (one read, at most 4096 bytes);
//   108 receive flow notice: param 1 = the service stopped reading this
//       connection because the bytes of its kind-101 records still waiting in
//       the queue reached the receive backlog bound (parameter 2); param 0 =
//       enough of them were drained and reading resumed. No data.
//   one of 104 (the peer closed), 106 (socket error; param = errno) or 107
//       (the service closed it: CloseClient, StopListen or an enforced limit;
//       param = 0 when asked, else the statistic that counts the limit:
//       22 send bounds or no memory for the send queue, 25 flood) is always the connection's last message. The slot becomes free for a
//       new connection only when GetMsg hands out that last message, so a slot
//       never takes a new connection while messages of the old one wait.
inline constexpr int NET_MSG_ON_RECV = 101;
inline constexpr int NET_MSG_ON_CLIENTCONNECT = 103;
inline constexpr int NET_MSG_ON_CLIENTDISCONNECT = 104;
inline constexpr int NET_MSG_ON_CONNECT_ERROR = 106;
inline constexpr int NET_MSG_ON_CLIENTCLOSE = 107;
inline constexpr int NET_MSG_ON_CLIENTNOTIFY = 108;
inline constexpr int NET_MSG_ON_CLIENTCREATE = 109;

// ---------------------------------------------------------------------------
// Parameters for SetParam()/GetParam(). Values are 32-bit; defaults apply
// until set.
//   1 MAX_SEND_BUFFER_BYTES   bound in bytes of one connection's unsent data;
//                             a SendTo that would pass it closes the connection
//                             (kind 107, statistic 22) and returns 0.
//                             Default 0x20000000 (512 MiB).
//   2 MAX_RECV_BACKLOG_BYTES  bytes of one connection's kind-101 records that
//                             may wait in the queue before the service stops
//                             reading it (kind 108 param 1); reading resumes
//                             at half of it (kind 108 param 0). Default 1 MiB.
//   5 MaxSendMsgQueueCount    a connection whose outgoing queue holds more
//                             SendTo messages than this is closed (kind 107,
//                             statistic 22). Messages the socket took at once
//                             never enter the queue, so only a peer that reads
//                             slower than it is sent to reaches it. Default 100.
//   6 RefuseConnectByRecvQueue  new connections are refused while more records
//                             than this wait in the message queue
//                             (statistic 24). Default 10000.
//   7 RefuseConnectBySendQueue  new connections are refused while more
//                             outgoing messages than this are unsent across all
//                             connections (statistic 23). Default 50000.
//   8 HackAttackValue         a connection that delivers more kind-101 records
//                             than this within one second is closed
//                             (kind 107, statistic 25); 0 = off. Default 50.
// Limits of 0 or below for 1, 2, 5, 6 and 7 mean "no limit".
// ---------------------------------------------------------------------------
inline constexpr int NETPARAM_MAX_SEND_BUFFER_BYTES = 1;
inline constexpr int NETPARAM_MAX_RECV_BACKLOG_BYTES = 2;
inline constexpr int NETPARAM_MAX_SEND_MSG_QUEUE_COUNT = 5;
inline constexpr int NETPARAM_REFUSE_CONNECT_BY_RECV_QUEUE = 6;
inline constexpr int NETPARAM_REFUSE_CONNECT_BY_SEND_QUEUE = 7;
inline constexpr int NETPARAM_HACK_ATTACK_VALUE = 8;

// ---------------------------------------------------------------------------
// Statistics read with GetValue(id), 64-bit. "Now" values are gauges, the
// others running totals since the object was created.
//
// Always 0 in this implementation, kept so the numbering stays whole:
//   17 NETMSG_IOCP_SEND_RETRY       there is no completion port to resubmit to;
//   21 NETMSG_WSASEND_RETURN_ZERO   counted, but a stream socket write never
//                                   completes with 0 bytes and no error;
//   27 TIME_KICK_OUT_COUNT          the service has no idle time-out;
//   28 COMKEY_NULL_ERROR_COUNT      no completion keys exist;
//   29 IOHANDLE_OLP_NULL_ERROR_COUNT  no overlapped structures exist;
//   33 CHECK_HACKREFUSE_COUNT       no check refuses a peer at accept time
//                                   (floods are caught per connection, 25).
// ---------------------------------------------------------------------------
enum ENetValue : int {
    NETVALUE_MAX_CLIENT = 0,                 // connection slots of the last StartListen
    NETVALUE_RECV_TOTAL_BYTE = 1,            // bytes received
    NETVALUE_SEND_TOTAL_BYTE = 2,            // bytes written to sockets
    NETVALUE_OPCOUNT = 3,                    // now: socket operations in flight (accept, reads, writes)
    NETVALUE_RECV_QUEUE = 4,                 // now: records waiting in the message queue
    NETVALUE_SEND_QUEUE = 5,                 // now: SendTo messages not yet completely written
    NETVALUE_SEND_STREAM_SIZE = 6,           // now: bytes of those messages not yet written
    NETVALUE_FREE_CLIENT_POOL = 7,           // now: free connection slots
    NETVALUE_WAIT_PROCESS_SENDCOUNT = 8,     // now: connections with unsent data
    NETVALUE_ALLOCED_OPCOUNT = 9,            // socket operations started
    NETVALUE_PUSH_RECV_MSG_TOTAL = 10,       // records queued for GetMsg
    NETVALUE_PUSH_SEND_MSG_TOTAL = 11,       // SendTo messages accepted
    NETVALUE_POP_RECV_MSG_TOTAL = 12,        // records handed out by GetMsg
    NETVALUE_POP_SEND_MSG_TOTAL = 13,        // SendTo messages completely written
    NETVALUE_COMMIT_SEND_TOTALBYTE = 14,     // bytes accepted by SendTo
    NETVALUE_NETMSG_OBJPOOL_COUNT = 15,      // now: message records allocated (queued + free)
    NETVALUE_NETMSG_OBJPOOL_FREE_COUNT = 16, // now: message records kept free for reuse
    NETVALUE_NETMSG_IOCP_SEND_RETRY = 17,    // always 0 (see above)
    NETVALUE_NETMSG_WSASEND_RETRY = 18,      // writes that took only part of their bytes and were continued
    NETVALUE_NETMSG_WSASEND_PENDING = 19,    // now: writes in flight
    NETVALUE_NETMSG_WRITECOUNT = 20,         // writes started
    NETVALUE_NETMSG_WSASEND_RETURN_ZERO = 21,// writes that completed with 0 bytes (see above)
    NETVALUE_MAXQUEUE_KICKOUT = 22,          // closed for parameter 5 or 1
    NETVALUE_REFUSE_CONNECTBYSEND_COUNT = 23,// refused for parameter 7
    NETVALUE_REFUSE_CONNECTBYRECV_COUNT = 24,// refused for parameter 6
    NETVALUE_FIND_HACKER_KICK_OUT = 25,      // closed for parameter 8
    NETVALUE_DROP_PACK_COUNT = 26,           // SendTo calls refused (no usable connection, bad arguments)
    NETVALUE_TIME_KICK_OUT_COUNT = 27,       // always 0 (see above)
    NETVALUE_COMKEY_NULL_ERROR_COUNT = 28,   // always 0 (see above)
    NETVALUE_IOHANDLE_OLP_NULL_ERROR_COUNT = 29, // always 0 (see above)
    NETVALUE_RET_ERROR_COUNT = 30,           // socket operations that completed with an error (35 + 36 + 37)
    NETVALUE_CLIENTNORMAL_DIS_COUNT = 31,    // connections the peer closed (kind 104)
    NETVALUE_MAX_CONNECT_REFUSE_COUNT = 32,  // connections refused because every slot was taken
    NETVALUE_CHECK_HACKREFUSE_COUNT = 33,    // always 0 (see above)
    NETVALUE_INITIATIVE_CLOSESOCKET_COUNT = 34, // connections the service closed (kind 107)
    NETVALUE_POST_RECV_ERR_COUNT = 35,       // reads that failed (kind 106)
    NETVALUE_POST_SEND_ERR_COUNT = 36,       // writes that failed (kind 106)
    NETVALUE_POST_ACCEPT_ERR_COUNT = 37,     // accepts that failed
    NETVALUE_COUNT = 38,
};

// Called by the service on its I/O thread (or the thread running its
// driver), outside its locks, whenever it
// queues a message into an empty queue: the draining thread may sleep until
// then instead of polling.
using NetMsgNotify = void (*)(void* context);

// One connection slot. The object lives as long as its service and serves
// every connection the slot takes. Values are read without waiting for the
// I/O thread; they describe the slot's current connection.
class QXNetClient {
public:
    /*  0 */ virtual int GetPoolIndex() = 0;
    /*  1 */ virtual void* GetUserObj() = 0;
    /*  2 */ virtual void BindUserObj(void* userObj) = 0;
    /*  3 */ virtual uint32_t GetConnectSerial() = 0;  // counts the slot's connections, 1 for the first
    /*  4 */ virtual uint16_t GetPeerPort() = 0;
    /*  5 */ virtual void Reserved5() = 0;
    /*  6 */ virtual int GetSocket() = 0;  // descriptor of the current connection, -1 when none
    /*  7 */ virtual bool IsUsable() = 0;  // connected and not closing: SendTo will take data
    /*  8 */ virtual uint8_t IsSendPending() = 0;  // 1 while a write is in flight
    /*  9 */ virtual uint32_t GetConnectedTime() = 0;  // ms since the connection was accepted
    /* 10 */ virtual uint8_t IsWaitClose() = 0;  // 1 from the close until GetMsg hands out the close message
    /* 11 */ virtual void Reserved11() = 0;
    /* 12 */ virtual uint32_t GetRecvIdleTime() = 0;  // ms since the last read (or the accept)
    /* 13 */ virtual void Reserved13() = 0;
    /* 14 */ virtual uint64_t GetRecvBytes() = 0;  // bytes received on the current connection
    /* 15 */ virtual uint64_t GetSentBytes() = 0;  // bytes written on the current connection
    /* 16 */ virtual void Reserved16() = 0;
    // Text of the peer's IPv4 address; the pointer stays valid for the
    // object's life and the text for as long as the slot's connection lives.
    /* 17 */ virtual const char* GetPeerIP() = 0;
    /* 18 */ virtual bool IsRecvPaused() = 0;  // reading held back by the receive backlog bound
    /* 19 */ virtual uint32_t GetRemainSendBuffLen() = 0;  // bytes queued, not yet handed to a write
    /* 20 */ virtual void Reserved20() = 0;
    /* 21 */ virtual void Reserved21() = 0;
    /* 22 */ virtual uint32_t GetCommitSendBuffLen() = 0;  // bytes handed to the write in flight

protected:
    // Only the service destroys its slots.
    ~QXNetClient() = default;
};

class INetService {
public:
    // Listens on 0.0.0.0:port (0 = a free port, see GetListenPort) with
    // `count` connection slots numbered 0..count-1. False when already
    // listening, when count < 1, or when the port cannot be bound.
    /*  0 */ virtual bool StartListen(uint16_t port, int count) = 0;
    // Closes every connection (each gets its kind-107 message) and the
    // listener, and stops the I/O thread; a driven service instead runs its
    // remaining network work on the caller's thread, in turn with the
    // driver's RunFor. Queued messages stay for GetMsg.
    /*  1 */ virtual void StopListen() = 0;
    /*  2 */ virtual uint16_t GetListenPort() = 0;  // port bound by StartListen, 0 when not listening
    /*  3 */ virtual int GetMaxClient() = 0;  // slots of the last StartListen
    /*  4 */ virtual QXNetClient* GetClient(int poolIndex) = 0;  // null until the slot's first connection
    // Moves the oldest message into *msg and returns true; false when the
    // queue is empty.
    /*  5 */ virtual bool GetMsg(tagNetMsg* msg) = 0;
    // Sets (or, with null, clears) the callback for a message queued into an
    // empty queue. A call already running may still finish after this returns.
    // The callback must not call StopListen or Release: both wait for the
    // I/O thread or driver that is running it.
    /*  6 */ virtual void SetMsgNotify(NetMsgNotify callback, void* context) = 0;
    /*  7 */ virtual int GetMsgCount() = 0;  // records waiting in the queue
    /*  8 */ virtual int GetParam(int id) = 0;  // current value of a parameter, 0 for an unknown id
    // Sends len bytes on the slot's connection, in call order: when nothing
    // is queued they go to the socket at once (without blocking), and what
    // the socket does not take is copied into the connection's outgoing queue,
    // which the I/O thread writes as the peer reads. 1 when written or
    // queued; 0 when the slot has no usable connection, the arguments are
    // bad, the socket failed (kind 106 follows) or a send limit closed the
    // connection (kind 107 follows).
    /*  9 */ virtual int SendTo(int poolIndex, const char* data, int len) = 0;
    /* 10 */ virtual void Reserved10() = 0;
    /* 11 */ virtual void Reserved11() = 0;
    // Closes the connection of a slot (kind 107 follows); nothing when the
    // slot has no usable connection.
    /* 12 */ virtual void CloseClient(int poolIndex) = 0;
    /* 13 */ virtual bool IsListening() = 0;
    /* 14 */ virtual void Reserved14() = 0;
    /* 15 */ virtual uint64_t GetValue(int id) = 0;  // statistic `id` (ENetValue), 0 for an unknown id
    /* 16 */ virtual void Reserved16() = 0;
    /* 17 */ virtual void Reserved17() = 0;
    // Sets a parameter (NETPARAM_*); false for an unknown id. Takes effect
    // for the next accept, read or SendTo.
    /* 18 */ virtual bool SetParam(int id, int value) = 0;
    /* 19 */ virtual int GetOnlineCount() = 0;  // connections accepted and not yet closed
    // Stops listening if needed and destroys the object; pending messages are
    // discarded and the slot objects die with it.
    /* 20 */ virtual void Release() = 0;
    // SendTo for bytes that the caller follows with more at once: the kernel
    // may hold them back (MSG_MORE) until a plain SendTo on the slot, so a
    // burst leaves as few segments as possible. The caller must end every
    // burst with SendTo.
    /* 21 */ virtual int SendToMore(int poolIndex, const char* data, int len) = 0;
    // Runs the service's network work on `driver` (from CreateNetIoDriver of
    // this module; it holds a reference until the object is destroyed)
    // instead of an I/O thread of its own; null returns to the own thread.
    // Only while not listening: false otherwise, or for a driver after null.
    /* 22 */ virtual bool SetIoDriver(INetIoDriver* driver) = 0;

protected:
    // Only Release() destroys the object.
    ~INetService() = default;
};

// Runs the network work of any number of services on one caller's thread, so
// that a thread which both serves the network and drains the services'
// queues needs no hand-over from an I/O thread. Reference counted: created
// with one reference; a service holds one from SetIoDriver until it is
// destroyed. One thread runs the work at a time; a StopListen on another
// thread takes its turn in between two RunFor calls.
class INetIoDriver {
public:
    // Waits up to timeoutMs (0: not at all) for network work or a Wake(),
    // then runs all the work that is ready without waiting again. Returns
    // the number of pieces of work run (a Wake counts as one).
    virtual int RunFor(int timeoutMs) = 0;
    // Ends a waiting RunFor at once, or makes the next one return without
    // waiting. Any thread; never blocks.
    virtual void Wake() = 0;
    virtual void AddRef() = 0;
    virtual void Release() = 0;

protected:
    ~INetIoDriver() = default;
};

// The module's exports.
//   GetQXNetServiceInstance(0)  a new service object (the argument is reserved
//                               and must be 0); null if it cannot be created.
//   GetNetMsgPool()             a message record on the module's heap, for a
//                               caller that wants one to hand to GetMsg;
//   FreeNetMsgPool(record)      gives such a record back (null is ignored).
//   CreateNetIoDriver()         a new I/O driver with one reference; null if
//                               it cannot be created.
extern "C" {
using GetQXNetServiceInstanceFunc = INetService* (*)(int reserved);
using CreateNetIoDriverFunc = INetIoDriver* (*)();
using GetNetMsgPoolFunc = tagNetMsg* (*)();
using FreeNetMsgPoolFunc = void (*)(tagNetMsg* record);
}
