#include "platform/MappedFile.h"

#include <sys/mman.h>

namespace plat {

MappedFile::~MappedFile() {
    if (m_View != nullptr) ::munmap(m_View, m_Size);
}

bool MappedFile::Map(int fd, size_t size) {
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) return false;
    m_View = view;
    m_Size = size;
    return true;
}

}  // namespace plat
