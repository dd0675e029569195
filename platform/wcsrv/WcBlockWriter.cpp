#include "WcBlockWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <unistd.h>

namespace wcsrv
{
namespace
{

bool WriteAllAt(int fd, const char* p, std::size_t n, off_t offset)
{
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, offset);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= std::size_t(w);
        offset += w;
    }
    return true;
}

} // namespace

std::unique_ptr<BlockWriter> BlockWriter::Create(int fd, long failBlock)
{
    std::unique_ptr<BlockWriter> writer(new (std::nothrow) BlockWriter(fd, failBlock));
    if (!writer || !writer->m_buffers[0])
        return nullptr;
    return writer;
}

BlockWriter::BlockWriter(int fd, long failBlock) : m_fd(fd), m_failBlock(failBlock)
{
    // A file of one block needs no other buffer: it is stored when it is
    // finished (and new char[] leaves the bytes as they are, untouched).
    m_buffers[0].reset(new (std::nothrow) char[kBlockBytes]);
    m_busy[0] = true;
}

bool BlockWriter::TakeOtherBuffers()
{
    for (int i = 1; i < kBlocks; ++i) {
        if (!m_buffers[i])
            m_buffers[i].reset(new (std::nothrow) char[kBlockBytes]);
        if (!m_buffers[i])
            return false;
    }
    return true;
}

BlockWriter::~BlockWriter()
{
    Finish();
}

bool BlockWriter::Append(const char* p, std::size_t n)
{
    if (m_finished || m_failed.load(std::memory_order_acquire))
        return false;
    // Blocks are filled to the last byte: the thread gets few, large writes.
    while (n > 0) {
        const std::size_t part = std::min(n, kBlockBytes - m_filled);
        std::memcpy(m_buffers[m_current].get() + m_filled, p, part);
        m_filled += part;
        m_accepted += off_t(part);
        p += part;
        n -= part;
        if (m_filled == kBlockBytes && !Submit())
            return false;
    }
    return true;
}

// Hands the full current block to the thread and takes a free buffer,
// waiting for one when all are queued.
bool BlockWriter::Submit()
{
    const Block block{m_current, m_filled, m_accepted - off_t(m_filled)};
    std::unique_lock<std::mutex> lock(m_lock);
    // The file outgrows its first block: the other buffers, and the thread
    // that stores full blocks while the next fills. Without either, the
    // caller stores each block itself, through the one buffer.
    if (!m_thread.joinable() && !m_stop) {
        try {
            if (TakeOtherBuffers())
                m_thread = std::thread(&BlockWriter::Run, this);
            else
                m_stop = true;
        } catch (const std::system_error&) {
            m_stop = true;
        }
    }
    if (!m_thread.joinable()) {
        lock.unlock();
        const bool ok = Store(block);
        lock.lock();
        NoteStored(block, ok);
        m_filled = 0;
        return ok;
    }
    m_queue.push_back(block);
    m_changed.notify_all();
    m_changed.wait(lock, [this] {
        return m_failed ||
               std::find(std::begin(m_busy), std::end(m_busy), false) != std::end(m_busy);
    });
    if (m_failed)
        return false;
    m_current = int(std::find(std::begin(m_busy), std::end(m_busy), false) - std::begin(m_busy));
    m_busy[m_current] = true;
    m_filled = 0;
    return true;
}

void BlockWriter::Run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_stop; });
        if (m_queue.empty())
            return;
        const Block block = m_queue.front();
        const bool skip = m_failed; // blocks after a failed one are dropped
        lock.unlock();
        const bool ok = skip || Store(block);
        lock.lock();
        m_queue.pop_front();
        m_busy[block.buffer] = false;
        NoteStored(block, ok);
        m_changed.notify_all();
    }
}

// Called with the lock held, in file order: blocks are stored one after
// the other by one side only (the thread, or the caller while there is none).
void BlockWriter::NoteStored(const Block& block, bool ok)
{
    if (!ok)
        m_failed.store(true, std::memory_order_release);
    else if (!m_failed.load(std::memory_order_relaxed))
        m_stored = block.offset + off_t(block.size);
}

off_t BlockWriter::Stored()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stored;
}

bool BlockWriter::Store(const Block& block)
{
    if (m_failBlock > 0 && ++m_storeCount == m_failBlock) {
        errno = ENOSPC;
        return false;
    }
    return WriteAllAt(m_fd, m_buffers[block.buffer].get(), block.size, block.offset);
}

bool BlockWriter::Finish()
{
    if (!m_finished) {
        m_finished = true;
        const bool failed = m_failed.load(std::memory_order_acquire);
        if (m_filled > 0 && !failed) {
            const Block last{m_current, m_filled, m_accepted - off_t(m_filled)};
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_thread.joinable()) {
                m_queue.push_back(last);
            } else {
                lock.unlock();
                const bool ok = Store(last);
                lock.lock();
                NoteStored(last, ok);
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join(); // the thread stores what is queued first
        (void)::lseek(m_fd, m_accepted, SEEK_SET);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_failed;
}

} // namespace wcsrv
