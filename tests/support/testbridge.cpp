// SPDX-License-Identifier: GPL-3.0-or-later
// A libVbVis10.so for tests: the three bridge functions answer what the
// test set through the testbridge_* control functions, and every call is
// recorded with its arguments and the exact buffer it was handed.
//
// Without control calls it installs successfully (unless the environment
// variable TESTBRIDGE_INSTALL is "0"), reports VU 0 and no spectrum.
// Built a second time with TESTBRIDGE_INSTALL_ONLY, it exports only
// vbvis_install_plugin, for the tests of a library that lacks functions.
#include "testbridge.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Call {
    int function;
    std::int32_t channel;
    std::int32_t length;
    std::string buffer;  // length + 1 bytes as handed over, or empty for a null pointer
    bool nullBuffer;
};

struct State {
    std::int16_t installResult = 1;
    std::map<std::int32_t, std::int16_t> vu;
    std::int16_t count = 0;
    std::map<std::int32_t, std::string> text;
    std::vector<Call> calls;
};

std::mutex g_mutex;

State& state()
{
    static State s = [] {
        State initial;
        const char* install = std::getenv("TESTBRIDGE_INSTALL");
        if (install && std::strcmp(install, "0") == 0)
            initial.installResult = 0;
        return initial;
    }();
    return s;
}

void record(int function, std::int32_t channel, const char* buffer, std::int32_t length)
{
    Call call{function, channel, length, {}, buffer == nullptr};
    if (buffer && length >= 0)
        call.buffer.assign(buffer, static_cast<std::size_t>(length) + 1);
    state().calls.push_back(std::move(call));
}

}  // namespace

extern "C" {

TESTBRIDGE_EXPORT std::int16_t vbvis_install_plugin(void)
{
    std::lock_guard lock(g_mutex);
    record(TESTBRIDGE_INSTALL_PLUGIN, 0, nullptr, -1);
    return state().installResult;
}

#ifndef TESTBRIDGE_INSTALL_ONLY
TESTBRIDGE_EXPORT std::int16_t vbvis_vu(std::int32_t channel)
{
    std::lock_guard lock(g_mutex);
    record(TESTBRIDGE_VU, channel, nullptr, -1);
    auto it = state().vu.find(channel);
    return it == state().vu.end() ? 0 : it->second;
}

TESTBRIDGE_EXPORT std::int16_t vbvis_spectrum(std::int32_t channel, char* buffer, std::int32_t length)
{
    std::lock_guard lock(g_mutex);
    record(TESTBRIDGE_SPECTRUM, channel, buffer, length);
    const std::string& text = state().text[channel];
    if (buffer && length > 0)
        std::memcpy(buffer, text.data(), std::min<std::size_t>(text.size(), static_cast<std::size_t>(length)));
    return state().count;
}
#endif

TESTBRIDGE_EXPORT void testbridge_reset(void)
{
    std::lock_guard lock(g_mutex);
    state() = State{};
}

TESTBRIDGE_EXPORT void testbridge_set_install_result(std::int16_t result)
{
    std::lock_guard lock(g_mutex);
    state().installResult = result;
}

TESTBRIDGE_EXPORT void testbridge_set_vu(std::int32_t channel, std::int16_t value)
{
    std::lock_guard lock(g_mutex);
    state().vu[channel] = value;
}

TESTBRIDGE_EXPORT void testbridge_set_count(std::int16_t count)
{
    std::lock_guard lock(g_mutex);
    state().count = count;
}

TESTBRIDGE_EXPORT void testbridge_set_spectrum_text(std::int32_t channel, const char* text, std::int32_t size)
{
    std::lock_guard lock(g_mutex);
    state().text[channel].assign(text, static_cast<std::size_t>(size));
}

TESTBRIDGE_EXPORT int testbridge_call_count(void)
{
    std::lock_guard lock(g_mutex);
    return static_cast<int>(state().calls.size());
}

TESTBRIDGE_EXPORT int testbridge_call(int index, TestBridgeCall* out)
{
    std::lock_guard lock(g_mutex);
    if (index < 0 || index >= static_cast<int>(state().calls.size()))
        return 0;
    const Call& call = state().calls[static_cast<std::size_t>(index)];
    out->function = call.function;
    out->channel = call.channel;
    out->length = call.length;
    out->buffer = call.nullBuffer ? nullptr : call.buffer.data();
    out->buffer_size = static_cast<std::int32_t>(call.buffer.size());
    return 1;
}

TESTBRIDGE_EXPORT void testbridge_clear_calls(void)
{
    std::lock_guard lock(g_mutex);
    state().calls.clear();
}

}  // extern "C"
