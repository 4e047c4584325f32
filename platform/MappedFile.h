// A read-only view of a whole file (CreateFileMapping + MapViewOfFile). The
// view lives as long as the object; moving it is not needed by any user.
#pragma once

#include <cstddef>

namespace plat {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps `size` bytes of the open descriptor (not taken over); false with
    // errno set when the system refuses.
    bool Map(int fd, size_t size);
    const char* Data() const { return static_cast<const char*>(m_View); }
    size_t Size() const { return m_Size; }

private:
    void* m_View = nullptr;
    size_t m_Size = 0;
};

}  // namespace plat
