// SPDX-License-Identifier: GPL-3.0-or-later
// Events per second over the last two seconds, for the counters on screen.
//
// Amounts are summed into 100 ms buckets in a fixed ring, so memory stays
// constant however fast the line runs. Plain C++, one thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>

namespace lumora::display {

class RateMeter {
public:
    using Nanoseconds = std::chrono::nanoseconds;

    static constexpr Nanoseconds kBucket = std::chrono::milliseconds(100);
    static constexpr int kBuckets = 20;  // the window: 2 s

    // `amount` happened at `when`; times must not go backwards.
    void add(Nanoseconds when, std::uint64_t amount);
    // Average per second over the window that ends at `now`.
    double perSecond(Nanoseconds now) const;

private:
    static constexpr std::int64_t kUnused = std::numeric_limits<std::int64_t>::min();
    struct Bucket {
        std::int64_t index = kUnused;  // floor(when / kBucket)
        std::uint64_t amount = 0;
    };
    std::array<Bucket, kBuckets> m_buckets{};
};

}  // namespace lumora::display
