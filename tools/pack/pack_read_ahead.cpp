#include "pack_read_ahead.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "pack_files.h"

namespace {

// Allocated once for the process: fresh buffers for every file would cost
// page faults on every file.
ChunkBuffer chunkBuffers[2];

struct Slot {
    uint8_t* buffer = nullptr;
    size_t size = 0;
    bool full = false;  // read and not yet consumed
    bool last = false;  // the end of the file or a failed read: nothing follows
    int error = 0;
};

struct Shared {
    Slot slots[2];
    bool stop = false;  // the consumer gave up: the reader ends
    std::mutex lock;
    std::condition_variable changed;
};

void ReadChunks(FILE* file, RunningChecksum* checksum, Shared& shared) {
    for (int i = 0;; i ^= 1) {
        Slot& slot = shared.slots[i];
        {
            std::unique_lock<std::mutex> hold(shared.lock);
            shared.changed.wait(hold, [&] { return !slot.full || shared.stop; });
            if (shared.stop) return;
        }
        const size_t got = std::fread(slot.buffer, 1, COPY_CHUNK_SIZE, file);
        const int error = std::ferror(file) ? errno : 0;
        if (checksum) Update(*checksum, slot.buffer, got);
        {
            std::lock_guard<std::mutex> hold(shared.lock);
            slot.size = got;
            slot.error = error;
            slot.last = got < COPY_CHUNK_SIZE;
            slot.full = true;
        }
        shared.changed.notify_all();
        if (got < COPY_CHUNK_SIZE) return;
    }
}

}  // namespace

ChunkWalk ForEachChunk(FILE* file, RunningChecksum* checksum,
                       const std::function<bool(const uint8_t* chunk, size_t size)>& consume, int& readError) {
    Shared shared;
    for (int i = 0; i < 2; ++i) {
        if (!chunkBuffers[i]) chunkBuffers[i] = NewChunkBuffer();
        shared.slots[i].buffer = chunkBuffers[i].get();
    }
    std::thread reader(ReadChunks, file, checksum, std::ref(shared));
    ChunkWalk walk = ChunkWalk::DONE;
    for (int i = 0;; i ^= 1) {
        Slot& slot = shared.slots[i];
        {
            std::unique_lock<std::mutex> hold(shared.lock);
            shared.changed.wait(hold, [&] { return slot.full; });
        }
        // The reader does not touch a full slot, so it is read here unlocked.
        if (slot.size > 0 && !consume(slot.buffer, slot.size)) {
            walk = ChunkWalk::STOPPED;
        } else if (slot.error) {
            readError = slot.error;
            walk = ChunkWalk::READ_FAILED;
        }
        const bool last = slot.last;
        {
            std::lock_guard<std::mutex> hold(shared.lock);
            slot.full = false;
            shared.stop = walk != ChunkWalk::DONE;
        }
        shared.changed.notify_all();
        if (last || walk != ChunkWalk::DONE) break;
    }
    reader.join();
    return walk;
}
