// SPDX-License-Identifier: GPL-3.0-or-later
#include "chunkqueue.h"

namespace lumora::display {

Nanoseconds monotonicNow()
{
    return std::chrono::duration_cast<Nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

ChunkQueue::ChunkQueue(std::size_t capacityBytes) : m_capacityBytes(capacityBytes)
{
}

void ChunkQueue::setWakeUp(std::function<void()> wakeUp)
{
    std::lock_guard lock(m_mutex);
    m_wakeUp = std::move(wakeUp);
}

bool ChunkQueue::push(Chunk chunk)
{
    bool wasEmpty = false;
    std::function<void()> wakeUp;
    {
        std::unique_lock lock(m_mutex);
        // A chunk larger than the whole capacity still goes in once the
        // queue is empty.
        m_spaceFreed.wait(lock,
                          [&] { return m_closed || m_bytes == 0 || m_bytes + chunk.bytes.size() <= m_capacityBytes; });
        if (m_closed)
            return false;
        wasEmpty = m_chunks.empty();
        m_bytes += chunk.bytes.size();
        m_chunks.push_back(std::move(chunk));
        wakeUp = m_wakeUp;
    }
    if (wasEmpty && wakeUp)
        wakeUp();
    return true;
}

void ChunkQueue::finish(std::string error)
{
    std::function<void()> wakeUp;
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_finished = std::move(error);
        wakeUp = m_wakeUp;
    }
    if (wakeUp)
        wakeUp();
}

bool ChunkQueue::empty() const
{
    std::lock_guard lock(m_mutex);
    return m_chunks.empty();
}

std::vector<Chunk> ChunkQueue::takeAll()
{
    std::vector<Chunk> taken;
    {
        std::lock_guard lock(m_mutex);
        taken.swap(m_chunks);
        m_bytes = 0;
    }
    m_spaceFreed.notify_all();
    return taken;
}

bool ChunkQueue::inputEnded(std::string& error) const
{
    std::lock_guard lock(m_mutex);
    if (!m_chunks.empty() || !m_finished)
        return false;
    error = *m_finished;
    return true;
}

void ChunkQueue::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_spaceFreed.notify_all();
}

}  // namespace lumora::display
