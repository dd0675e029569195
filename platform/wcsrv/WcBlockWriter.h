// Write-behind for a file created anew: small writes are collected into
// large blocks, and a thread of the file's own stores each full block while
// the caller goes on filling the next one. A copy in 4096-byte chunks then
// costs little more than reading its source. Small files never start the
// thread: their one block is stored when the file is finished.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace wcsrv
{

class BlockWriter
{
public:
    // Blocks of 256 KiB, eight of them: the block being filled stays in the
    // processor's cache until the thread stores it (with 1 MiB blocks the
    // caller's side of a copy took a sixth longer), and the thread still
    // gets few, large writes.
    static constexpr std::size_t kBlockBytes = std::size_t(1) << 18;
    static constexpr int kBlocks = 8;

    // A writer for `fd`, positioned at offset 0 of an empty file; nullptr
    // when its buffers cannot be had. `failBlock` > 0 makes the store of
    // that block (1-based, in file order) fail as a full disk would: the
    // fault switch of the tests.
    static std::unique_ptr<BlockWriter> Create(int fd, long failBlock = 0);

    // Finishes (see Finish) before it goes.
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Takes `n` bytes (at most kBlockBytes). False when a block written
    // earlier failed: nothing more is taken then.
    bool Append(const char* p, std::size_t n);

    // Writes every byte taken, waits until they are stored and leaves the
    // descriptor's offset at the end of them. False when any block failed.
    // No bytes are taken after it.
    bool Finish();

    // Bytes taken so far.
    off_t Accepted() const { return m_accepted; }

    // Bytes from offset 0 that are stored: up to the first block that
    // failed, or everything stored so far. After a failed Finish the file
    // is cut back to this length, so it never looks complete.
    off_t Stored();

private:
    struct Block {
        int buffer;
        std::size_t size;
        off_t offset;
    };

    BlockWriter(int fd, long failBlock);
    bool Submit();
    bool TakeOtherBuffers();
    void Run();
    bool Store(const Block& block);
    void NoteStored(const Block& block, bool ok);

    const int m_fd;
    const long m_failBlock;
    long m_storeCount = 0; // blocks stored so far; only the storing side counts
    // The buffers: the first from the start, the others once the file
    // outgrows one block and the thread starts.
    std::unique_ptr<char[]> m_buffers[kBlocks];
    int m_current = 0;        // buffer being filled
    std::size_t m_filled = 0; // bytes in it
    off_t m_accepted = 0;     // bytes taken
    bool m_finished = false;

    // Shared with the thread.
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Block> m_queue; // full blocks not yet stored
    bool m_busy[kBlocks] = {}; // filled or queued, not yet stored
    // Set under the lock; read without it by Append, once per write, so a
    // write does not wait on the thread's lock while a block is stored.
    std::atomic<bool> m_failed{false};
    off_t m_stored = 0; // contiguous bytes from offset 0 stored without failure
    bool m_stop = false;
    std::thread m_thread; // started with the first full block
};

} // namespace wcsrv
