// IPackageDispatcher: the stream framer as the process offers it to the
// modules it loads (NewPackageDispatcher / FreePackageDispatcher, exported
// by name from the executable). Modules call it by the position of its
// operations, so their order below is part of that interface: never reorder.
// A framer is not locked: one thread feeds it, one thread packs with it.
//
// Wire layout of one frame (multi-byte values little-endian):
//   offset 0       2 bytes  magic 0xCCFF, on the wire FF CC
//   offset 2       4 bytes (32-bit length mode) or 2 bytes (16-bit mode):
//                  length value = body length + CRC length (head not counted)
//   offset 6 or 4  the body (for packets: the 9-byte tagPackHead and payload)
//   after body     4 bytes, only with CRC on: CRC-32 (zlib crc32 from 0) of
//                  every frame byte before it
// A frame of more than kMaxFrameBytes (head included) is refused.
#pragma once

#include <cstdint>

// Each closure is a plain function and the context handed back to it; a
// closure whose function is null is skipped.
struct PackCheckClosure {
    bool (*Func)(void* context, const char* chunk, int len) = nullptr;
    void* Context = nullptr;
};
struct PackClosure {
    void (*Func)(void* context, const char* body, int len) = nullptr;
    void* Context = nullptr;
};
struct PackLogClosure {
    void (*Func)(void* context, const char* text) = nullptr;
    void* Context = nullptr;
};
struct PackErrorClosure {
    void (*Func)(void* context) = nullptr;
    void* Context = nullptr;
};

inline constexpr uint16_t kPackMagic = 0xCCFF;
inline constexpr int kPackHeadLen32 = 6;  // magic + 32-bit length value
inline constexpr int kPackHeadLen16 = 4;  // magic + 16-bit length value
inline constexpr int kPackCRCLen = 4;
inline constexpr uint64_t kMaxFrameBytes = 104857600;  // 100 MiB, head included

class IPackageDispatcher {
public:
    /*  0 */ virtual void SetOnRecvCheck(PackCheckClosure closure) = 0;
    /*  1 */ virtual void SetOnPack(PackClosure closure) = 0;
    /*  2 */ virtual void SetOnLog(PackLogClosure closure) = 0;
    /*  3 */ virtual void SetOnError(PackErrorClosure closure) = 0;
    /*  4 */ virtual void Feed(const char* chunk, int len) = 0;
    /*  5 */ virtual int PackData(const char* data, int len, char* buffer, int maxBuff) = 0;
    /*  6 */ virtual void ClearBuffer() = 0;
    /*  7 */ virtual int GetHeadLen() = 0;
    /*  8 */ virtual void SetLenMode(int mode) = 0;  // 0 = 16-bit length, 1 = 32-bit
    /*  9 */ virtual int GetCRCLen() = 0;
    /* 10 */ virtual void SetUseCRC(bool useCRC) = 0;
    /* 11 */ virtual bool GetUseCRC() = 0;
    /* 12 */ virtual ~IPackageDispatcher() = default;
};

extern "C" {
// A new framer with the defaults (32-bit length, no CRC, no closures).
__attribute__((visibility("default"))) IPackageDispatcher* NewPackageDispatcher();
// Destroys a framer made by NewPackageDispatcher; null is ignored.
__attribute__((visibility("default"))) void FreePackageDispatcher(IPackageDispatcher* dispatcher);

using NewPackageDispatcherFunc = IPackageDispatcher* (*)();
using FreePackageDispatcherFunc = void (*)(IPackageDispatcher*);
}

// Owner type for a framer from NewPackageDispatcher.
struct PackageDispatcherDeleter {
    void operator()(IPackageDispatcher* dispatcher) const { FreePackageDispatcher(dispatcher); }
};
