// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialreceiver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_cycle_timers.h>
#include <sim_io.h>
#include <sim_irq.h>
}

namespace lumora::sim {

namespace {

// USART0's registers in the data space.
constexpr std::uint16_t kUcsr0A = 0xC0;
constexpr std::uint8_t kU2x0 = 0x02;
constexpr std::uint16_t kUcsr0B = 0xC1;
constexpr std::uint8_t kRxen0 = 0x10;
constexpr std::uint16_t kUbrr0L = 0xC4;
constexpr std::uint16_t kUbrr0H = 0xC5;

// A real USART holds two received bytes unread; the next one overruns.
constexpr std::size_t kUnreadBytesHeld = 2;

}  // namespace

SerialReceiver::SerialReceiver(AvrBoard& board) : m_board(board)
{
    avr_t* avr = board.avr();
    const std::uint32_t uart = AVR_IOCTL_UART_GETIRQ('0');
    m_input = avr_io_getirq(avr, uart, UART_IRQ_INPUT);
    for (avr_io_t* io = avr->io_port; io; io = io->next) {
        if (std::strcmp(io->kind, "uart") == 0)
            m_usart = io;  // avr_uart_t begins with its avr_io_t
    }
    // Nothing of what the chip sends goes to our standard output.
    std::uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
    for (std::uint16_t reg : {kUcsr0A, kUcsr0B, kUbrr0L, kUbrr0H})
        avr_irq_register_notify(avr_iomem_getirq(avr, reg, nullptr, AVR_IOMEM_IRQ_ALL), &SerialReceiver::onUsartControl,
                                this);
    board.onReset([this](ResetCause) {
        // simavr dropped its timers; the receiver is off until enabled.
        m_scheduled = false;
        m_listening = false;
        m_firmwareReceptions = 0;
        std::uint32_t none = 0;
        avr_ioctl(m_board.avr(), AVR_IOCTL_UART_SET_FLAGS('0'), &none);
    });
}

SerialReceiver::~SerialReceiver() = default;

void SerialReceiver::send(std::span<const std::uint8_t> bytes)
{
    const double now = static_cast<double>(m_board.cycle());
    for (std::uint8_t byte : bytes)
        m_line.send(byte, now);
    m_counts.sent += bytes.size();
    reschedule();
}

std::size_t SerialReceiver::waiting() const
{
    return m_line.waitingAt(static_cast<double>(m_board.cycle()));
}

void SerialReceiver::addFramingError(std::uint64_t reception)
{
    m_framingErrors.push_back(reception);
}

bool SerialReceiver::receiverOn() const
{
    return !m_board.held() && (m_board.avr()->data[kUcsr0B] & kRxen0) != 0;
}

double SerialReceiver::receiverBitCycles() const
{
    const avr_t* avr = m_board.avr();
    const unsigned divider = avr->data[kUbrr0L] | (avr->data[kUbrr0H] & 0x0F) << 8;
    return static_cast<double>((divider + 1) * ((avr->data[kUcsr0A] & kU2x0) ? 8 : 16));
}

// Works out the next frame the receiver completes from what is on the line
// now, and sets a timer for it. Called again whenever the line gets more
// frames or the program changes the receiver.
void SerialReceiver::reschedule()
{
    avr_t* avr = m_board.avr();
    if (m_scheduled) {
        avr_cycle_timer_cancel(avr, &SerialReceiver::onCompleted, this);
        m_scheduled = false;
    }
    // The receiver here decides when a byte has arrived; simavr would wait
    // its own byte time again, after the input and between queued bytes.
    if (auto* usart = static_cast<avr_uart_t*>(m_usart))
        usart->cycles_per_byte = 1;
    const bool on = receiverOn();
    if (on && !m_listening)
        m_listenFrom = static_cast<double>(m_board.cycle());
    m_listening = on;
    if (!on) {
        dropUnheard();
        return;
    }
    const auto next = m_line.receive(m_listenFrom, receiverBitCycles());
    if (!next)
        return;
    m_next = *next;
    const auto now = m_board.cycle();
    const auto when = static_cast<std::uint64_t>(std::ceil(m_next.completed));
    avr_cycle_timer_register(avr, when > now ? when - now : 1, &SerialReceiver::onCompleted, this);
    m_scheduled = true;
}

// Received bytes the program has not read yet, in simavr's USART.
std::size_t SerialReceiver::unreadBytes() const
{
    const auto* usart = static_cast<const avr_uart_t*>(m_usart);
    if (!usart)
        return 0;
    const auto size = static_cast<std::size_t>(uart_fifo_fifo_size);
    return (usart->input.write + size - usart->input.read) & (size - 1);
}

void SerialReceiver::deliver()
{
    m_listenFrom = m_next.completed;
    m_line.dropEndedBy(m_listenFrom);
    if (!receiverOn())
        return;
    ++m_counts.received;
    m_lastReception = m_board.cycle();
    if (unreadBytes() >= kUnreadBytesHeld) {
        ++m_counts.overruns;
        return;
    }
    bool framingError = m_next.framingError;
    if (m_board.inBootloader()) {
        ++m_counts.toBootloader;
        if (m_bootloaderBytes.size() < kBootloaderBytesKept)
            m_bootloaderBytes.push_back(m_next.byte);
    } else {
        const std::uint64_t reception = ++m_firmwareReceptions;
        framingError = framingError ||
                       std::find(m_framingErrors.begin(), m_framingErrors.end(), reception) != m_framingErrors.end();
    }
    if (framingError)
        ++m_counts.framingErrors;
    avr_raise_irq(m_input, framingError ? m_next.byte | UART_INPUT_FE : m_next.byte);
}

// Frames that ended while nobody listened are gone.
void SerialReceiver::dropUnheard()
{
    m_counts.unheard += m_line.dropEndedBy(static_cast<double>(m_board.cycle()));
}

std::uint64_t SerialReceiver::onCompleted(avr_t*, std::uint64_t, void* param)
{
    auto* self = static_cast<SerialReceiver*>(param);
    self->m_scheduled = false;
    self->deliver();
    self->reschedule();
    return 0;
}

void SerialReceiver::onUsartControl(avr_irq_t*, std::uint32_t, void* param)
{
    static_cast<SerialReceiver*>(param)->reschedule();
}

}  // namespace lumora::sim
