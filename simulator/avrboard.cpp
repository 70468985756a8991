// SPDX-License-Identifier: GPL-3.0-or-later
#include "avrboard.h"

#include "bootloaderimages.h"
#include "intelhex.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
#include <avr_ioport.h>
#include <avr_watchdog.h>
#include <sim_avr.h>
#include <sim_core.h>
#include <sim_elf.h>
#include <sim_io.h>
#include <sim_irq.h>
}

namespace lumora::sim {

namespace {

// Registers in the data space.
constexpr std::size_t kMcusr = 0x54;
constexpr std::uint8_t kPorf = 0x01;
constexpr std::uint8_t kExtrf = 0x02;
constexpr std::uint16_t kSpmcsr = 0x57;
constexpr std::uint8_t kSpmEnable = 0x01;
constexpr std::uint8_t kPageErase = 0x02;
constexpr std::uint8_t kPageWrite = 0x04;
constexpr std::uint16_t kWdtcsr = 0x60;
constexpr std::size_t kSpl = 0x5D;
constexpr std::size_t kSph = 0x5E;
constexpr std::uint16_t kEecr = 0x3F;
constexpr std::uint8_t kEepromWriteEnable = 0x02;
constexpr std::uint8_t kEepromMasterWriteEnable = 0x04;

// The boot sections, as the boards' high fuse sets them.
constexpr std::uint32_t kOptibootStart = 0x7E00;
constexpr std::uint32_t kOldBootloaderStart = 0x7800;

// simavr's own messages go to standard error, and only warnings and worse:
// standard output belongs to the reports.
void logToStderr(avr_t*, const int level, const char* format, va_list arguments)
{
    if (level <= LOG_WARNING)
        std::vfprintf(stderr, format, arguments);
}

AvrBoard& boardOf(avr_t* avr)
{
    return *static_cast<AvrBoard*>(avr->custom.data);
}

}  // namespace

const char* bootloaderName(Bootloader bootloader)
{
    switch (bootloader) {
    case Bootloader::Optiboot: return "optiboot";
    case Bootloader::Old: return "old";
    case Bootloader::None: break;
    }
    return "none";
}

bool bootloaderFromName(const std::string& name, Bootloader& bootloader)
{
    for (Bootloader b : {Bootloader::None, Bootloader::Optiboot, Bootloader::Old}) {
        if (name == bootloaderName(b)) {
            bootloader = b;
            return true;
        }
    }
    return false;
}

std::unique_ptr<AvrBoard> AvrBoard::load(const std::string& firmwareElf, Bootloader bootloader, std::string& error)
{
    avr_global_logger_set(logToStderr);
    elf_firmware_t firmware;
    std::memset(&firmware, 0, sizeof firmware);
    if (elf_read_firmware(firmwareElf.c_str(), &firmware) != 0) {
        error = "cannot read the firmware image " + firmwareElf;
        return nullptr;
    }
    std::unique_ptr<AvrBoard> board(new AvrBoard);
    board->m_avr = avr_make_mcu_by_name("atmega328p");
    if (!board->m_avr) {
        error = "simavr does not know the atmega328p";
        return nullptr;
    }
    avr_t* avr = board->m_avr;
    avr_init(avr);
    avr->log = LOG_WARNING;
    avr->frequency = kClockHz;
    avr_load_firmware(avr, &firmware);
    avr->frequency = kClockHz;

    if (bootloader != Bootloader::None) {
        board->m_bootStart = bootloader == Bootloader::Optiboot ? kOptibootStart : kOldBootloaderStart;
        std::vector<HexChunk> chunks;
        if (!parseIntelHex(bootloaderImage(bootloader), chunks, error)) {
            error = std::string("the ") + bootloaderName(bootloader) + " bootloader's image: " + error;
            return nullptr;
        }
        for (const HexChunk& chunk : chunks) {
            if (chunk.address < board->m_bootStart || chunk.address + chunk.data.size() > avr->flashend + 1U) {
                error =
                    std::string("the ") + bootloaderName(bootloader) + " bootloader's image lies outside its section";
                return nullptr;
            }
            std::memcpy(avr->flash + chunk.address, chunk.data.data(), chunk.data.size());
        }
    }
    const std::uint32_t applicationEnd = board->m_bootStart ? board->m_bootStart : avr->flashend + 1U;
    board->m_application.assign(avr->flash, avr->flash + applicationEnd);

    avr->custom.data = board.get();
    avr->sleep = &AvrBoard::onSleep;
    board->m_coreReset = avr->reset;
    avr->reset = &AvrBoard::onCoreReset;
    avr_irq_register_notify(avr_iomem_getirq(avr, kSpmcsr, nullptr, AVR_IOMEM_IRQ_ALL), &AvrBoard::onSpmControl,
                            board.get());
    avr_irq_register_notify(avr_iomem_getirq(avr, kEecr, nullptr, AVR_IOMEM_IRQ_ALL), &AvrBoard::onEepromControl,
                            board.get());
    avr_irq_register_notify(avr_iomem_getirq(avr, kWdtcsr, nullptr, AVR_IOMEM_IRQ_ALL), &AvrBoard::onWatchdogControl,
                            board.get());

    avr->reset_pc = board->m_bootStart;
    avr_reset(avr);
    board->m_resetByCore = false;
    avr->data[kMcusr] = kPorf;
    board->afterReset(ResetCause::PowerOn);
    return board;
}

AvrBoard::~AvrBoard()
{
    if (m_avr) {
        avr_terminate(m_avr);
        std::free(m_avr);
    }
}

void AvrBoard::onReset(std::function<void(ResetCause)> listener)
{
    m_listeners.push_back(std::move(listener));
}

void AvrBoard::resetPin()
{
    const std::uint8_t flags = m_avr->data[kMcusr];
    avr_reset(m_avr);
    m_resetByCore = false;
    m_avr->data[kMcusr] = flags | kExtrf;  // the flags add up until the program clears them
    afterReset(ResetCause::ResetPin);
}

void AvrBoard::afterReset(ResetCause cause)
{
    ++m_resets[static_cast<int>(cause)];
    m_heldUntil = m_avr->cycle + kStartUpCycles;
    m_firmwarePending = true;
    m_eepromMasterEnabled = false;
    for (const auto& listener : m_listeners)
        listener(cause);
}

bool AvrBoard::held() const
{
    return m_avr->cycle < m_heldUntil;
}

bool AvrBoard::runUntil(std::uint64_t cycle)
{
    while (m_avr->cycle < cycle) {
        if (held()) {
            // Nothing runs in reset. The watchdog, left on by a watchdog
            // reset, starts counting when the chip does.
            const std::uint64_t until = std::min(cycle, m_heldUntil);
            m_sleptCycles += until - m_avr->cycle;
            m_avr->cycle = until;
            if (!held())
                avr_ioctl(m_avr, AVR_IOCTL_WATCHDOG_RESET, nullptr);
            continue;
        }
        int state = cpu_Running;
        if (m_firmwarePending) {
            state = avr_run(m_avr);
            if (!m_resetByCore && (m_bootStart == 0 || m_avr->pc < m_bootStart)) {
                m_firmwarePending = false;
                m_firmwareStartedAt = m_avr->cycle;
            }
        } else {
            while (m_avr->cycle < cycle && !m_resetByCore && state != cpu_Done && state != cpu_Crashed) {
                state = avr_run(m_avr);
                m_lowestStack =
                    std::min(m_lowestStack, static_cast<std::uint16_t>(m_avr->data[kSpl] | m_avr->data[kSph] << 8));
            }
        }
        if (m_resetByCore) {
            m_resetByCore = false;
            afterReset(ResetCause::Watchdog);
            continue;
        }
        if (state == cpu_Done || state == cpu_Crashed)
            return false;
    }
    return true;
}

std::uint64_t AvrBoard::cycle() const
{
    return m_avr->cycle;
}

int AvrBoard::deepestStack() const
{
    return m_lowestStack > m_avr->ramend ? 0 : m_avr->ramend - m_lowestStack;
}

bool AvrBoard::firmwareIntact() const
{
    return std::equal(m_application.begin(), m_application.end(), m_avr->flash);
}

bool AvrBoard::hang(bool interruptsOff)
{
    // cli; rjmp .-2: where the C library's exit() ends.
    constexpr std::uint8_t kExitLoop[] = {0xF8, 0x94, 0xFF, 0xCF};
    const auto at = std::search(m_application.begin(), m_application.end(), std::begin(kExitLoop), std::end(kExitLoop));
    if (at == m_application.end() || (at - m_application.begin()) % 2 != 0)
        return false;
    const auto address = static_cast<std::uint32_t>(at - m_application.begin());
    m_avr->pc = interruptsOff ? address : address + 2;
    if (!interruptsOff)  // also when it was in an interrupt handler
        avr_sreg_set(m_avr, S_I, 1);
    if (m_avr->state == cpu_Sleeping)
        m_avr->state = cpu_Running;
    return true;
}

avr_irq_t* AvrBoard::pinIrq(pins::Pin pin)
{
    return avr_io_getirq(m_avr, AVR_IOCTL_IOPORT_GETIRQ(pin.port), pin.bit);
}

void AvrBoard::onCoreReset(avr_t* avr)
{
    AvrBoard& self = boardOf(avr);
    self.m_coreReset(avr);
    self.m_resetByCore = true;
}

void AvrBoard::onSleep(avr_t* avr, std::uint64_t howLong)
{
    boardOf(avr).m_sleptCycles += howLong + 1;
}

void AvrBoard::onSpmControl(avr_irq_t*, std::uint32_t value, void* param)
{
    auto* self = static_cast<AvrBoard*>(param);
    if ((value & kSpmEnable) == 0)
        return;
    if (value & kPageErase)
        ++self->m_memoryWrites.flashPageErases;
    else if (value & kPageWrite)
        ++self->m_memoryWrites.flashPageWrites;
}

// simavr keeps counting a running watchdog to its old time-out when the
// program shortens it; the chip's counter reaches the new, shorter one at
// once. Bootloaders leave through that: a 16 ms time-out, then a reset.
void AvrBoard::onWatchdogControl(avr_irq_t*, std::uint32_t, void* param)
{
    avr_ioctl(static_cast<AvrBoard*>(param)->m_avr, AVR_IOCTL_WATCHDOG_RESET, nullptr);
}

void AvrBoard::onEepromControl(avr_irq_t*, std::uint32_t value, void* param)
{
    auto* self = static_cast<AvrBoard*>(param);
    if ((value & kEepromWriteEnable) && self->m_eepromMasterEnabled)
        ++self->m_memoryWrites.eepromWrites;
    self->m_eepromMasterEnabled = (value & kEepromMasterWriteEnable) != 0;
}

}  // namespace lumora::sim

// Under LeakSanitizer (the asan build): simavr keeps what it allocates for
// the firmware image and its IRQs until the process ends, and frees none of
// it on avr_terminate(). Those are simavr's, not ours. Every program and test
// that runs a board links this unit, so the rule lives here.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libsimavr.so\n";
}
