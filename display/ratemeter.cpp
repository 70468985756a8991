// SPDX-License-Identifier: GPL-3.0-or-later
#include "ratemeter.h"

namespace lumora::display {

void RateMeter::add(Nanoseconds when, std::uint64_t amount)
{
    const std::int64_t index = when / kBucket;
    Bucket& bucket = m_buckets[static_cast<std::size_t>(index % kBuckets)];
    if (bucket.index != index)
        bucket = {index, 0};
    bucket.amount += amount;
}

double RateMeter::perSecond(Nanoseconds now) const
{
    const std::int64_t newest = now / kBucket;
    std::uint64_t total = 0;
    for (const Bucket& bucket : m_buckets) {
        if (bucket.index > newest - kBuckets && bucket.index <= newest)
            total += bucket.amount;
    }
    const double window = std::chrono::duration<double>(kBucket * kBuckets).count();
    return static_cast<double>(total) / window;
}

}  // namespace lumora::display
