// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal that behaves as a real serial port: libfakeuart.so,
// loaded before the C library (linked into a test, or by LD_PRELOAD),
// takes over the descriptors of one pty slave.
//
// To the program, the device looks like a built-in serial port (fstat()
// reports a ttyS character device), so the program takes its real-port
// path. Its writes go into a driver queue of 4096 bytes unless set
// otherwise (a full queue takes part of a write, or none: EAGAIN); TIOCOUTQ
// reports the queue; a drain thread shifts the queue out into the pty at
// 5760 bytes per second, as a 57600-baud UART would, and keeps what the
// pty's reader has no room for yet (the fake loses nothing itself);
// tcdrain() waits until the queue is empty; tcflush(TCOFLUSH) empties it.
// Everything else passes through.
//
// The device is the one named by attach(), or by LUMORA_FAKE_UART when the
// library loads. Thread-safe.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

namespace lumora::fakeuart {

// Takes over the pty slave at `path` (any name of it); empty lets it go.
void attach(const std::string& path);
// While held, the queue does not move: the line is stalled (CTS held low).
void hold(bool held);
// The driver queue's size in bytes, from now on; attach() keeps it.
void setQueueBytes(std::size_t bytes);
// tcdrain() fails with this errno from now on; 0 makes it succeed again.
void failDrain(int errnoValue);

struct Counts {
    std::size_t mostQueued = 0;   // the largest the driver queue was
    std::size_t queueReads = 0;   // TIOCOUTQ calls
    std::size_t refusals = 0;     // write() calls that found the queue full (EAGAIN)
    std::size_t shortWrites = 0;  // write() calls that took part of what was offered
};
Counts counts();
// Calls on the device's settings, in order: "drain" for tcdrain(),
// "settings" for tcsetattr(), "flush" for tcflush().
std::vector<std::string> settingsCalls();
void resetCounts();

}  // namespace lumora::fakeuart
