// SPDX-License-Identifier: GPL-3.0-or-later
#include "replaysource.h"

#include <filesystem>

namespace lumora::display {

ReplaySource::ReplaySource(std::string path, std::vector<RecordedChunk> chunks, bool fast)
    : m_path(std::move(path)), m_chunks(std::move(chunks)), m_fast(fast)
{
}

ReplaySource::~ReplaySource()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_stopRequested.notify_all();
    if (m_queue)
        m_queue->close();
    if (m_player.joinable())
        m_player.join();
}

std::string ReplaySource::name() const
{
    return "replay of " + std::filesystem::path(m_path).filename().string();
}

void ReplaySource::start(ChunkQueue& queue)
{
    m_queue = &queue;
    m_player = std::thread([this, &queue] { play(queue); });
}

void ReplaySource::play(ChunkQueue& queue)
{
    const auto startedSteady = std::chrono::steady_clock::now();
    const Nanoseconds started = monotonicNow();
    for (const RecordedChunk& recorded : m_chunks) {
        if (!m_fast) {
            std::unique_lock lock(m_mutex);
            if (m_stopRequested.wait_until(lock, startedSteady + recorded.offset,
                                           [this] { return m_stop; }))
                return;
        }
        if (!queue.push({recorded.bytes, started + recorded.offset}))
            return;
    }
    queue.finish({});
}

}  // namespace lumora::display
