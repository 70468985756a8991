// SPDX-License-Identifier: GPL-3.0-or-later
#include "ratemeter.h"

namespace lumora::display {

namespace {

// Rounded towards minus infinity, so that times before zero get buckets of
// their own and a slot in the ring (a plain % would give a negative slot).
std::int64_t floorDivide(std::int64_t a, std::int64_t b)
{
    const std::int64_t quotient = a / b;
    return quotient * b > a ? quotient - 1 : quotient;
}

std::int64_t bucketIndex(RateMeter::Nanoseconds when)
{
    return floorDivide(when.count(), RateMeter::kBucket.count());
}

}  // namespace

void RateMeter::add(Nanoseconds when, std::uint64_t amount)
{
    const std::int64_t index = bucketIndex(when);
    const std::int64_t slot = index - floorDivide(index, kBuckets) * kBuckets;
    Bucket& bucket = m_buckets[static_cast<std::size_t>(slot)];
    if (bucket.index != index)
        bucket = {index, 0};
    bucket.amount += amount;
}

double RateMeter::perSecond(Nanoseconds now) const
{
    const std::int64_t newest = bucketIndex(now);
    std::uint64_t total = 0;
    for (const Bucket& bucket : m_buckets) {
        if (bucket.index > newest - kBuckets && bucket.index <= newest)
            total += bucket.amount;
    }
    const double window = std::chrono::duration<double>(kBucket * kBuckets).count();
    return static_cast<double>(total) / window;
}

}  // namespace lumora::display
