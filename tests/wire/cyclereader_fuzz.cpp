// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the cycle reader on any bytes and silences, and on
// well-formed streams built from the input.
//
// Input: byte 0 picks the mode.
// - Even: any bytes. Byte 1 is the silence mark: each later byte equal to
//   it is a silence, every other byte is fed. At the end comes a silence
//   and one well-formed cycle, which must come out exactly. Traps when a
//   reported cycle breaks the content rule, a blanking is not one, the
//   counts do not add up, or a counter goes backwards.
// - Odd: a well-formed stream. The input is read as commands: 0 a silence,
//   1 a blanking sequence, 2 a cycle that carries on the history of the
//   cycle before (its lamp groups moved one column toward the middle, the
//   rest new), anything else a cycle whose 84 bytes are made well-formed
//   from the next input bytes. Traps unless every cycle comes out exactly,
//   in order, with nothing dropped or realigned. One exception, which the
//   reader makes on purpose: once a run has shown two ordinary cycles, a
//   cycle that does not carry on the history of the one before and whose
//   seams would let a count one byte off be well-formed may be read as that
//   count (that is what a lost or added byte looks like). From such a cycle
//   until the next silence only the general checks apply.
#include "cyclereader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace lumora::wire;

namespace {

using Cycle = std::vector<std::uint8_t>;

// 84 well-formed bytes from whatever `data` holds from `at` on.
Cycle wellFormedCycle(const std::uint8_t* data, std::size_t size, std::size_t& at)
{
    Cycle cycle(kCycleBytes);
    for (int offset = 0; offset < kCycleBytes; ++offset) {
        const std::uint8_t seed = at < size ? data[at++] : static_cast<std::uint8_t>(offset);
        cycle[static_cast<std::size_t>(offset)] =
            offset < kLampBytes
                ? levelLampByte(seed % (kMaxLevel + 1), (seed & 0x10) != 0)
                : static_cast<std::uint8_t>(kFirstTextByte + seed % (kLastTextByte - kFirstTextByte + 1));
    }
    return cycle;
}

// The cycle carries on the history of `before`: in every row, columns 2, 3,
// 4 hold the bytes that 1, 2, 3 held, and 7, 6, 5 those of 8, 7, 6.
bool carriesOn(const Cycle& before, const Cycle& cycle)
{
    for (int row = 0; row < kRows; ++row) {
        const std::size_t first = static_cast<std::size_t>(row * kColumns);
        for (std::size_t column = 0; column < 3; ++column) {
            if (cycle[first + column + 1] != before[first + column] ||
                cycle[first + kColumns - 2 - column] != before[first + kColumns - 1 - column])
                return false;
        }
    }
    return true;
}

Cycle continued(const Cycle& before, const std::uint8_t* data, std::size_t size, std::size_t& at)
{
    Cycle cycle = wellFormedCycle(data, size, at);
    for (int row = 0; row < kRows; ++row) {
        const std::size_t first = static_cast<std::size_t>(row * kColumns);
        for (std::size_t column = 0; column < 3; ++column) {
            cycle[first + column + 1] = before[first + column];
            cycle[first + kColumns - 2 - column] = before[first + kColumns - 1 - column];
        }
    }
    return cycle;
}

// Whether the bytes at the seams let a count one byte off read a
// well-formed cycle: one byte later, or one byte earlier.
bool seamsFitOneByteOff(const Cycle& cycle)
{
    return isLampByte(cycle[kLampBytes]) || (isTextByte(cycle[kLampBytes - 1]) && isLampByte(cycle[kCycleBytes - 1]));
}

bool isBlank(const std::uint8_t* bytes)
{
    for (int offset = 0; offset < kCycleBytes; ++offset) {
        if (bytes[offset] != (offset < kLampBytes ? kBlankLamp : static_cast<std::uint8_t>(kBlankChar)))
            return false;
    }
    return true;
}

class Checked {
public:
    // Feeds or signals a silence, and checks what comes out.
    CycleReader::Completed step(bool silence, std::uint8_t byte)
    {
        const CycleReader::Counts before = m_reader.counts();
        const CycleReader::Completed completed = silence ? m_reader.silence() : m_reader.feed(byte);
        m_fed += silence ? 0 : 1;
        const CycleReader::Counts& after = m_reader.counts();
        if (after.cycles < before.cycles || after.blankings < before.blankings || after.resyncs < before.resyncs ||
            after.realignments < before.realignments || after.droppedBytes < before.droppedBytes)
            __builtin_trap();
        if (completed != CycleReader::Completed::Nothing) {
            for (int offset = 0; offset < kCycleBytes; ++offset) {
                if (!fitsCycleOffset(m_reader.cycle()[offset], offset))
                    __builtin_trap();
            }
            if (isBlank(m_reader.cycle()) != (completed == CycleReader::Completed::Blanking))
                __builtin_trap();
        }
        const auto pending = static_cast<std::uint64_t>(m_reader.pendingBytes());
        if (pending > kCycleBytes ||
            std::uint64_t{after.cycles + after.blankings} * kCycleBytes + after.droppedBytes + pending != m_fed)
            __builtin_trap();
        return completed;
    }

    // Feeds a whole cycle; true if exactly that cycle came out at its end.
    bool cycleComesOut(const Cycle& cycle)
    {
        CycleReader::Completed completed = CycleReader::Completed::Nothing;
        for (std::size_t i = 0; i < cycle.size(); ++i) {
            completed = step(false, cycle[i]);
            if (completed != CycleReader::Completed::Nothing && i + 1 != cycle.size())
                return false;
        }
        return completed != CycleReader::Completed::Nothing &&
               std::memcmp(m_reader.cycle(), cycle.data(), cycle.size()) == 0;
    }

    const CycleReader::Counts& counts() const { return m_reader.counts(); }

private:
    CycleReader m_reader;
    std::uint64_t m_fed = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    Checked reader;
    if (data[0] % 2 == 0) {
        const std::uint8_t silenceMark = data[1];
        for (std::size_t at = 2; at < size; ++at)
            reader.step(data[at] == silenceMark, data[at]);
        reader.step(true, 0);
        std::size_t at = 2;
        if (!reader.cycleComesOut(wellFormedCycle(data, size, at)))
            __builtin_trap();
        return 0;
    }

    std::size_t at = 1;
    bool exact = true;  // every cycle must come out
    bool alwaysExact = true;
    int ordinaryInRun = 0;  // since the last silence or blanking sequence
    Cycle before(kCycleBytes, 0);
    while (at < size) {
        const std::uint8_t command = data[at++];
        if (command == 0) {
            reader.step(true, 0);
            exact = true;
            ordinaryInRun = 0;
            continue;
        }
        Cycle cycle(kCycleBytes, static_cast<std::uint8_t>(kBlankChar));
        if (command == 1) {
            std::memset(cycle.data(), kBlankLamp, kLampBytes);
        } else {
            cycle = command == 2 ? continued(before, data, size, at) : wellFormedCycle(data, size, at);
            if (ordinaryInRun >= 2 && !carriesOn(before, cycle) && seamsFitOneByteOff(cycle))
                exact = alwaysExact = false;
        }
        if (exact) {
            if (!reader.cycleComesOut(cycle))
                __builtin_trap();
        } else {
            for (std::uint8_t byte : cycle)
                reader.step(false, byte);
        }
        ordinaryInRun = command == 1 ? 0 : ordinaryInRun + 1;
        before = cycle;
    }
    const CycleReader::Counts& counts = reader.counts();
    if (alwaysExact && (counts.droppedBytes != 0 || counts.realignments != 0 || counts.resyncs != 0))
        __builtin_trap();
    return 0;
}
