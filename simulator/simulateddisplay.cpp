// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulateddisplay.h"

#include "pins.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
#include <avr_ioport.h>
#include <avr_uart.h>
#include <hd44780.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_interrupts.h>
#include <sim_irq.h>
}

namespace lumora::sim {
namespace {

// The ATmega328P's USART receive-complete vector.
constexpr std::uint8_t kRxVector = 18;

// The board's wiring (firmware/pins.h).
struct PinWire {
    pins::Pin pin;
    enum Part { LampDin, LampClk, LampLoad, LcdRs, LcdE, LcdD4, LcdD5, LcdD6, LcdD7, Strobe } part;
};
constexpr pins::Pin lcdData(int n)
{
    return {pins::kLcdD4.port, static_cast<std::uint8_t>(pins::kLcdD4.bit + n)};
}
constexpr PinWire kWiring[] = {
    {pins::kLampDin, PinWire::LampDin}, {pins::kLampClk, PinWire::LampClk}, {pins::kLampLoad, PinWire::LampLoad},
    {pins::kLcdRs, PinWire::LcdRs},     {pins::kLcdE, PinWire::LcdE},       {lcdData(0), PinWire::LcdD4},
    {lcdData(1), PinWire::LcdD5},       {lcdData(2), PinWire::LcdD6},       {lcdData(3), PinWire::LcdD7},
    {pins::kStrobe, PinWire::Strobe},
};

// USART0's registers in the data space, for the baud rate the firmware set.
constexpr std::size_t kUcsr0A = 0xC0;
constexpr std::uint8_t kU2x0 = 0x02;
constexpr std::size_t kUbrr0L = 0xC4;
constexpr std::size_t kUbrr0H = 0xC5;
// A receiver this far off the line's baud rate still reads every byte.
constexpr double kBaudTolerance = 0.02;

// A slow HD44780 (190 kHz): an instruction or a character takes 52.6 us,
// a clear or a return home 2.16 ms.
constexpr std::uint64_t kLcdWriteCycles = kClockHz / 1000000 * 526 / 10;
constexpr std::uint64_t kLcdClearCycles = kClockHz / 1000000 * 2160;

std::uint64_t lcdExecutionCycles(std::uint8_t value, bool data)
{
    const bool clearOrHome = !data && (value == 0x01 || (value & 0xFE) == 0x02);
    return clearOrHome ? kLcdClearCycles : kLcdWriteCycles;
}

struct PinContext {
    SimulatedDisplay* display;
    PinWire::Part part;
};

// simavr's own messages go to standard error, and only warnings and worse:
// standard output belongs to the reports.
void logToStderr(avr_t*, const int level, const char* format, va_list arguments)
{
    if (level <= LOG_WARNING)
        std::vfprintf(stderr, format, arguments);
}

}  // namespace

struct SimulatedDisplayWiring {
    std::array<PinContext, std::size(kWiring)> pins;
};

SimulatedDisplay::SimulatedDisplay() : m_lcd(std::make_unique<hd44780_t>()), m_chain(kRows)
{
}

SimulatedDisplay::~SimulatedDisplay()
{
    if (m_avr) {
        avr_terminate(m_avr);
        std::free(m_avr);
    }
    delete static_cast<SimulatedDisplayWiring*>(m_wiring);
}

std::unique_ptr<SimulatedDisplay> SimulatedDisplay::load(const std::string& elfPath, std::string& error)
{
    avr_global_logger_set(logToStderr);
    elf_firmware_t firmware;
    std::memset(&firmware, 0, sizeof firmware);
    if (elf_read_firmware(elfPath.c_str(), &firmware) != 0) {
        error = "cannot read the firmware image " + elfPath;
        return nullptr;
    }
    std::unique_ptr<SimulatedDisplay> display(new SimulatedDisplay);
    display->m_avr = avr_make_mcu_by_name("atmega328p");
    if (!display->m_avr) {
        error = "simavr does not know the atmega328p";
        return nullptr;
    }
    avr_t* avr = display->m_avr;
    avr_init(avr);
    avr->log = LOG_WARNING;
    avr->frequency = kClockHz;
    avr_load_firmware(avr, &firmware);
    avr->frequency = kClockHz;
    avr->custom.data = display.get();
    avr->sleep = &SimulatedDisplay::onSleep;

    hd44780_init(avr, display->m_lcd.get(), kLcdColumns, kLcdLines);
    // R/W is tied to ground. At power-on the module has an 8-bit interface.
    avr_raise_irq(display->m_lcd->irq + IRQ_HD44780_RW, 0);
    hd44780_set_flag(display->m_lcd.get(), HD44780_FLAG_D_L, 1);
    display->applySelfTestJumper();

    auto* wiring = new SimulatedDisplayWiring;
    display->m_wiring = wiring;
    for (std::size_t i = 0; i < std::size(kWiring); ++i) {
        wiring->pins[i] = {display.get(), kWiring[i].part};
        avr_irq_t* pin = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(kWiring[i].pin.port), kWiring[i].pin.bit);
        avr_irq_register_notify(pin, &SimulatedDisplay::onPin, &wiring->pins[i]);
    }

    const std::uint32_t uart = AVR_IOCTL_UART_GETIRQ('0');
    display->m_uartInput = avr_io_getirq(avr, uart, UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(avr, uart, UART_IRQ_OUT_XON), &SimulatedDisplay::onXon, display.get());
    avr_irq_register_notify(avr_io_getirq(avr, uart, UART_IRQ_OUT_XOFF), &SimulatedDisplay::onXoff, display.get());
    // No echo of the bytes the firmware would send, and no polling sleep.
    std::uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

    for (avr_io_t* io = avr->io_port; io; io = io->next) {
        if (std::strcmp(io->kind, "uart") == 0)
            display->m_uart = io;  // avr_uart_t begins with its avr_io_t
    }

    avr_irq_t* rx = avr_get_interrupt_irq(avr, kRxVector);
    avr_irq_register_notify(rx + AVR_INT_IRQ_PENDING, &SimulatedDisplay::onRxPending, display.get());
    avr_irq_register_notify(rx + AVR_INT_IRQ_RUNNING, &SimulatedDisplay::onRxRunning, display.get());
    return display;
}

void SimulatedDisplay::send(std::span<const std::uint8_t> bytes)
{
    m_queue.insert(m_queue.end(), bytes.begin(), bytes.end());
    pushQueued();
}

void SimulatedDisplay::resetBoard(std::uint64_t bootloaderCycles)
{
    m_bootloaderFrom = m_avr->cycle;
    m_bootloaderUntil = m_avr->cycle + bootloaderCycles;
    m_bootloaderTook = 0;
    m_inBootloader = true;
}

// The bootloader is done: the firmware starts from its reset vector, with
// the line running.
void SimulatedDisplay::startFirmware()
{
    // The pins let go during the reset: the strobe's fall is no update.
    m_resetting = true;
    avr_reset(m_avr);
    m_resetting = false;
    m_strobe = false;
    m_avr->frequency = kClockHz;
    m_inBootloader = false;
    m_rxPending = false;
    m_xon = false;
    m_lastReception = 0;
    m_strobeRoseAfter = 0;
    m_receptionsSinceStart = 0;
    applySelfTestJumper();  // the reset cleared the port's registers
}

void SimulatedDisplay::powerLcdAt(std::uint64_t cycle)
{
    m_lcdPowered = false;
    m_lcdPoweredAt = cycle;
}

void SimulatedDisplay::strayLcdPulse()
{
    if (!m_lcdPowered)
        return;
    avr_raise_irq(m_lcd->irq + IRQ_HD44780_E, 1);
    avr_raise_irq(m_lcd->irq + IRQ_HD44780_E, 0);
    avr_raise_irq(m_lcd->irq + IRQ_HD44780_E, m_lcdE ? 1 : 0);
}

void SimulatedDisplay::powerUpLamps()
{
    m_chain.powerUp();
}

void SimulatedDisplay::addFramingError(std::uint64_t reception)
{
    m_framingErrors.push_back(reception);
}

void SimulatedDisplay::setSelfTestJumper(bool fitted)
{
    m_selfTestJumper = fitted;
    applySelfTestJumper();
}

void SimulatedDisplay::applySelfTestJumper()
{
    avr_ioport_external_t external{};
    external.name = static_cast<unsigned char>(pins::kSelfTest.port);
    external.mask = 1U << pins::kSelfTest.bit;
    external.value = m_selfTestJumper ? 0 : 1U << pins::kSelfTest.bit;
    avr_ioctl(m_avr, AVR_IOCTL_IOPORT_SET_EXTERNAL(pins::kSelfTest.port), &external);
    // A reset clears the pin register but not the pin's last level, and a
    // level raised again unchanged is no change: raise both.
    avr_irq_t* pin = avr_io_getirq(m_avr, AVR_IOCTL_IOPORT_GETIRQ(pins::kSelfTest.port), pins::kSelfTest.bit);
    avr_raise_irq(pin, m_selfTestJumper ? 1 : 0);
    avr_raise_irq(pin, m_selfTestJumper ? 0 : 1);
}

// An edge on E that the firmware made. A write that begins while a slow
// module still executes the last one is counted; a completed one starts
// the next execution time.
void SimulatedDisplay::lcdEdge(bool high)
{
    hd44780_t* lcd = m_lcd.get();
    if (high && !m_lcdE) {
        const bool secondNibble = hd44780_get_flag(lcd, HD44780_FLAG_LOWNIBBLE);
        // simavr's part keeps the function set's DL bit here: 1 is 8-bit.
        const bool fourBit = !hd44780_get_flag(lcd, HD44780_FLAG_D_L);
        if (!secondNibble && m_avr->cycle < m_lcdBusyUntil)
            ++m_counts.lcdWritesWhileBusy;
        if (!fourBit)
            m_lcdBusyUntil = m_avr->cycle + lcdExecutionCycles(static_cast<std::uint8_t>(m_lcdData << 4), m_lcdRs);
        else if (secondNibble)
            m_lcdBusyUntil = m_avr->cycle +
                             lcdExecutionCycles(static_cast<std::uint8_t>(m_lcdFirstNibble << 4 | m_lcdData), m_lcdRs);
        else
            m_lcdFirstNibble = m_lcdData;
    }
    m_lcdE = high;
    avr_raise_irq(lcd->irq + IRQ_HD44780_E, high ? 1 : 0);
}

void SimulatedDisplay::pushQueued()
{
    if (m_inBootloader) {
        // The bootloader takes what the line brings meanwhile, one byte
        // time after the other; nothing reaches the firmware yet.
        const std::uint64_t arrived = (m_avr->cycle - m_bootloaderFrom) / kCyclesPerLineByte + 1;
        while (m_bootloaderTook < arrived && !m_queue.empty()) {
            m_queue.pop_front();
            ++m_bootloaderTook;
            ++m_bytesToBootloader;
        }
        return;
    }
    while (m_xon && !m_queue.empty()) {
        const std::uint8_t byte = m_queue.front();
        m_queue.pop_front();
        ++m_counts.bytesFed;
        const bool damaged = std::find(m_framingErrors.begin(), m_framingErrors.end(), ++m_receptionsSinceStart) !=
                             m_framingErrors.end();
        avr_raise_irq(m_uartInput, damaged ? byte | UART_INPUT_FE : byte);  // may call onXoff
    }
}

void SimulatedDisplay::matchLinePace()
{
    auto* uart = static_cast<avr_uart_t*>(m_uart);
    if (!uart || uart->cycles_per_byte == kCyclesPerLineByte)
        return;
    const std::uint32_t divider = m_avr->data[kUbrr0L] | (m_avr->data[kUbrr0H] << 8);
    const std::uint32_t perBit = (m_avr->data[kUcsr0A] & kU2x0) ? 8 : 16;
    const double baud = double(kClockHz) / (perBit * (divider + 1));
    if (baud > wire::kBaudRate * (1 - kBaudTolerance) && baud < wire::kBaudRate * (1 + kBaudTolerance))
        uart->cycles_per_byte = kCyclesPerLineByte;
}

bool SimulatedDisplay::runUntil(std::uint64_t cycle)
{
    matchLinePace();
    pushQueued();
    while (m_avr->cycle < cycle) {
        if (m_inBootloader && m_avr->cycle >= m_bootloaderUntil) {
            startFirmware();
            pushQueued();
        }
        const int state = avr_run(m_avr);
        if (state == cpu_Done || state == cpu_Crashed)
            return false;
    }
    return true;
}

std::uint64_t SimulatedDisplay::cycle() const
{
    return m_avr->cycle;
}

DisplayState SimulatedDisplay::state() const
{
    DisplayState state;
    for (int row = 0; row < kRows; ++row) {
        for (int group = 0; group < kGroups; ++group)
            state.lamps[static_cast<std::size_t>(row * kGroups + group)] = m_chain.litSegments(row, group);
    }
    state.lcdOn = hd44780_get_flag(m_lcd.get(), HD44780_FLAG_D) != 0;
    // DDRAM: line 1 from address 0x00, line 2 from 0x40.
    constexpr int kLineAddress[kLcdLines] = {0x00, 0x40};
    for (int line = 0; line < kLcdLines; ++line) {
        std::string text;
        for (int column = 0; column < kLcdColumns; ++column) {
            const auto c = static_cast<char>(m_lcd->vram[kLineAddress[line] + column]);
            text += state.lcdOn && c >= 0x20 && c <= 0x7E ? c : ' ';
        }
        state.lines[static_cast<std::size_t>(line)] = text;
    }
    return state;
}

void SimulatedDisplay::onXon(avr_irq_t*, std::uint32_t, void* param)
{
    auto* self = static_cast<SimulatedDisplay*>(param);
    self->m_xon = true;
    self->pushQueued();
}

void SimulatedDisplay::onXoff(avr_irq_t*, std::uint32_t, void* param)
{
    static_cast<SimulatedDisplay*>(param)->m_xon = false;
}

void SimulatedDisplay::onRxPending(avr_irq_t*, std::uint32_t value, void* param)
{
    auto* self = static_cast<SimulatedDisplay*>(param);
    if (value && !self->m_rxPending) {
        self->m_rxPending = true;
        self->m_rxPendingSince = self->m_avr->cycle;
    }
}

void SimulatedDisplay::onRxRunning(avr_irq_t*, std::uint32_t value, void* param)
{
    auto* self = static_cast<SimulatedDisplay*>(param);
    if (!value || !self->m_rxPending)
        return;
    self->m_rxPending = false;
    ++self->m_counts.receptions;

    self->m_lastReception = self->m_avr->cycle;
    if (self->m_avr->cycle - self->m_rxPendingSince > kOverrunBudgetCycles)
        ++self->m_counts.lateReceptions;
}

void SimulatedDisplay::onSleep(avr_t* avr, std::uint64_t howLong)
{
    auto* self = static_cast<SimulatedDisplay*>(avr->custom.data);
    self->m_counts.sleptCycles += howLong + 1;
}

void SimulatedDisplay::onPin(avr_irq_t*, std::uint32_t value, void* param)
{
    auto* context = static_cast<PinContext*>(param);
    SimulatedDisplay* self = context->display;
    const bool high = value != 0;
    hd44780_t* lcd = self->m_lcd.get();
    switch (context->part) {
    case PinWire::LampDin: self->m_chain.setDin(high); break;
    case PinWire::LampClk: self->m_chain.setClk(high); break;
    case PinWire::LampLoad: self->m_chain.setLoad(high); break;
    case PinWire::LcdRs:
    case PinWire::LcdE:
    case PinWire::LcdD4:
    case PinWire::LcdD5:
    case PinWire::LcdD6:
    case PinWire::LcdD7: {
        if (!self->m_lcdPowered && self->m_avr->cycle >= self->m_lcdPoweredAt) {
            // Power comes: the module starts as after its own reset.
            std::memset(lcd->vram, ' ', sizeof lcd->vram);
            lcd->cursor = 0;
            lcd->flags = 0;
            hd44780_set_flag(lcd, HD44780_FLAG_D_L, 1);  // an 8-bit interface
            hd44780_set_flag(lcd, HD44780_FLAG_I_D, 1);
            hd44780_set_flag(lcd, HD44780_FLAG_DIRTY, 1);
            self->m_lcdPowered = true;
            self->m_lcdBusyUntil = 0;
        }
        if (context->part == PinWire::LcdRs) {
            self->m_lcdRs = high;
        } else if (context->part != PinWire::LcdE) {
            const int bit = context->part - PinWire::LcdD4;
            self->m_lcdData =
                static_cast<std::uint8_t>(high ? self->m_lcdData | 1U << bit : self->m_lcdData & ~(1U << bit));
        }
        if (!self->m_lcdPowered) {
            if (context->part == PinWire::LcdE)
                self->m_lcdE = high;
            break;
        }
        switch (context->part) {
        case PinWire::LcdE: self->lcdEdge(high); break;
        case PinWire::LcdRs: avr_raise_irq(lcd->irq + IRQ_HD44780_RS, value); break;
        case PinWire::LcdD4: avr_raise_irq(lcd->irq + IRQ_HD44780_D4, value); break;
        case PinWire::LcdD5: avr_raise_irq(lcd->irq + IRQ_HD44780_D5, value); break;
        case PinWire::LcdD6: avr_raise_irq(lcd->irq + IRQ_HD44780_D6, value); break;
        default: avr_raise_irq(lcd->irq + IRQ_HD44780_D7, value); break;
        }
        break;
    }
    case PinWire::Strobe:
        if (self->m_resetting)
            break;
        if (high && !self->m_strobe) {
            self->m_strobeRoseAfter = self->m_lastReception;
        } else if (!high && self->m_strobe) {
            Update update;
            update.sequence = ++self->m_counts.updates;
            update.cycle = self->m_avr->cycle;
            if (self->m_strobeRoseAfter != 0) {
                update.latencyCycles = update.cycle - self->m_strobeRoseAfter;
                self->m_counts.latencyCyclesTotal += update.latencyCycles;
                if (update.latencyCycles > self->m_counts.latencyCyclesMax)
                    self->m_counts.latencyCyclesMax = update.latencyCycles;
            }
            update.state = self->state();
            self->m_strobeRoseAfter = 0;
            if (self->onUpdate)
                self->onUpdate(update);
        }
        self->m_strobe = high;
        break;
    }
}

}  // namespace lumora::sim
