// SPDX-License-Identifier: GPL-3.0-or-later
// The control interface of the test bridge library (testbridge.cpp), and a
// C++ accessor that reaches it through the same libVbVis10.so the program
// loads.
#pragma once

#include <cstdint>

#define TESTBRIDGE_EXPORT __attribute__((visibility("default")))

enum { TESTBRIDGE_INSTALL_PLUGIN = 1, TESTBRIDGE_VU = 2, TESTBRIDGE_SPECTRUM = 3 };

extern "C" {
struct TestBridgeCall {
    int function;          // TESTBRIDGE_*
    std::int32_t channel;  // 0 for vbvis_install_plugin
    std::int32_t length;   // -1 where the function has no length
    const char* buffer;    // length + 1 bytes as handed over, null for none
    std::int32_t buffer_size;
};
}

#ifndef TESTBRIDGE_LIBRARY_ONLY
#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace lumora::testing {

// One recorded call, with the buffer copied out.
struct BridgeCall {
    int function = 0;
    std::int32_t channel = 0;
    std::int32_t length = 0;
    bool hasBuffer = false;
    std::string buffer;
    bool operator==(const BridgeCall&) const = default;
};

// Drives the test library that the process has loaded (or will load) as
// libVbVis10.so through LD_LIBRARY_PATH.
class TestBridge {
public:
    TestBridge()
    {
        m_handle = dlopen("libVbVis10.so", RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            throw std::runtime_error(std::string("test bridge not loadable: ") + dlerror());
        if (!dlsym(m_handle, "testbridge_reset"))
            throw std::runtime_error("libVbVis10.so found first is not the test bridge");
    }

    void reset() { call<void (*)()>("testbridge_reset")(); }
    void setInstallResult(std::int16_t r) { call<void (*)(std::int16_t)>("testbridge_set_install_result")(r); }
    void setVu(std::int32_t ch, std::int16_t v)
    {
        call<void (*)(std::int32_t, std::int16_t)>("testbridge_set_vu")(ch, v);
    }
    void setCount(std::int16_t n) { call<void (*)(std::int16_t)>("testbridge_set_count")(n); }
    void setSpectrumText(std::int32_t ch, const std::string& text)
    {
        call<void (*)(std::int32_t, const char*, std::int32_t)>("testbridge_set_spectrum_text")(
            ch, text.data(), static_cast<std::int32_t>(text.size()));
    }
    void clearCalls() { call<void (*)()>("testbridge_clear_calls")(); }
    int callCount() { return call<int (*)()>("testbridge_call_count")(); }

    std::vector<BridgeCall> calls()
    {
        auto count = call<int (*)()>("testbridge_call_count")();
        auto get = call<int (*)(int, TestBridgeCall*)>("testbridge_call");
        std::vector<BridgeCall> result;
        for (int i = 0; i < count; ++i) {
            TestBridgeCall raw{};
            get(i, &raw);
            BridgeCall c{raw.function, raw.channel, raw.length, raw.buffer != nullptr, {}};
            if (raw.buffer)
                c.buffer.assign(raw.buffer, static_cast<std::size_t>(raw.buffer_size));
            result.push_back(std::move(c));
        }
        return result;
    }

private:
    template <typename Fn> Fn call(const char* name) { return reinterpret_cast<Fn>(dlsym(m_handle, name)); }

    void* m_handle = nullptr;
};

}  // namespace lumora::testing
#endif
