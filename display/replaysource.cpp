// SPDX-License-Identifier: GPL-3.0-or-later
#include "replaysource.h"

#include <filesystem>

namespace lumora::display {

ReplaySource::ReplaySource(std::string path, bool fast) : m_path(std::move(path)), m_file(m_path), m_fast(fast)
{
}

std::unique_ptr<ReplaySource> ReplaySource::open(const std::string& path, bool fast, std::string& error)
{
    std::unique_ptr<ReplaySource> source(new ReplaySource(path, fast));
    if (!source->m_file) {
        error = "cannot read " + path;
        return nullptr;
    }
    if (!source->m_reader.readHeader(error)) {
        error = path + ": " + error;
        return nullptr;
    }
    return source;
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
    for (;;) {
        std::string error;
        std::optional<RecordedChunk> recorded = m_reader.next(error);
        if (!recorded) {
            queue.finish(error.empty() ? error : m_path + ": " + error);
            return;
        }
        if (!m_fast) {
            std::unique_lock lock(m_mutex);
            if (m_stopRequested.wait_until(lock, startedSteady + recorded->offset, [this] { return m_stop; }))
                return;
        }
        if (!queue.push({std::move(recorded->bytes), started + recorded->offset}))
            return;
    }
}

}  // namespace lumora::display
