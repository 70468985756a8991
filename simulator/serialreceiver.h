// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line into the chip's RX pin and the chip's receiver: the
// sender's bytes as 57600-baud frames (SerialWaveform), sampled at the rate
// the program on the chip set (UBRR0 and U2X0) while it has the receiver
// enabled. What the receiver completes goes into simavr's USART at that
// moment. So a program that listens at another rate (a bootloader at 115200
// baud) reads what a real chip would: other bytes, many with framing
// errors; and one that listens from the middle of a frame starts on the
// first falling edge it sees.
//
// A byte is lost where a real chip would lose it: completed while two
// received bytes wait unread (data overrun), or sent while the receiver
// is off (in reset, or not enabled yet).
//
// Runs on the simulation's thread, on simavr's cycle timers.
#pragma once

#include "avrboard.h"
#include "cycleformat.h"
#include "serialwaveform.h"

#include <cstdint>
#include <span>
#include <vector>

namespace lumora::sim {

class SerialReceiver {
public:
    // The line's bit time in CPU cycles: 277.8 at 57600 baud.
    static constexpr double kLineBitCycles = static_cast<double>(kClockHz) / wire::kBaudRate;

    struct Counts {
        std::uint64_t sent = 0;           // bytes put on the line
        std::uint64_t received = 0;       // frames the receiver completed, into the USART
        std::uint64_t framingErrors = 0;  // of those, with a low stop bit
        std::uint64_t overruns = 0;       // completed while two waited unread: lost
        std::uint64_t unheard = 0;        // sent while the receiver was off
        std::uint64_t toBootloader = 0;   // received while the bootloader ran
    };

    explicit SerialReceiver(AvrBoard& board);
    ~SerialReceiver();
    SerialReceiver(const SerialReceiver&) = delete;
    SerialReceiver& operator=(const SerialReceiver&) = delete;

    // Bytes for the line from now on, in order.
    void send(std::span<const std::uint8_t> bytes);
    // Bytes sent whose frame has not begun yet.
    std::size_t waiting() const;

    // The firmware's reception number `reception` (1: the first it receives
    // after it starts) comes with a framing error, as noise would make it.
    void addFramingError(std::uint64_t reception);

    const Counts& counts() const { return m_counts; }
    // The first bytes a bootloader received (at most kBootloaderBytesKept).
    static constexpr std::size_t kBootloaderBytesKept = 64;
    const std::vector<std::uint8_t>& bootloaderBytes() const { return m_bootloaderBytes; }
    // The cycle of the last frame the receiver completed (0: none yet).
    std::uint64_t lastReception() const { return m_lastReception; }

private:
    bool receiverOn() const;
    double receiverBitCycles() const;
    void reschedule();
    void deliver();
    std::size_t unreadBytes() const;
    void dropUnheard();
    static std::uint64_t onCompleted(avr_t* avr, std::uint64_t when, void* param);
    static void onUsartControl(avr_irq_t*, std::uint32_t value, void* param);

    AvrBoard& m_board;
    avr_irq_t* m_input = nullptr;
    void* m_usart = nullptr;  // simavr's avr_uart_t
    SerialWaveform m_line{kLineBitCycles};
    bool m_listening = false;
    double m_listenFrom = 0;
    bool m_scheduled = false;
    SerialWaveform::Reception m_next{};
    std::uint64_t m_lastReception = 0;
    std::uint64_t m_firmwareReceptions = 0;
    std::vector<std::uint64_t> m_framingErrors;
    std::vector<std::uint8_t> m_bootloaderBytes;
    Counts m_counts;
};

}  // namespace lumora::sim
