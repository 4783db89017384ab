#include "io/copy_buffer.h"

#include <windows.h>

void CopyBufferRelease::operator()(uint8_t* buffer) const { VirtualFree(buffer, 0, MEM_RELEASE); }

CopyBuffer AllocateCopyBuffer() {
    return CopyBuffer(static_cast<uint8_t*>(VirtualAlloc(nullptr, COPY_CHUNK_SIZE, MEM_RESERVE | MEM_COMMIT,
                                                         PAGE_READWRITE)));
}
