// SPDX-License-Identifier: GPL-3.0-or-later
#include "modvbvis10.h"

#include "failure.h"
#include "hextext.h"

#include <dlfcn.h>

#include <string>

namespace lumora::modVbVis10 {

namespace {

using InstallFn = std::int16_t (*)();
using VuFn = std::int16_t (*)(std::int32_t);
using SpectrumFn = std::int16_t (*)(std::int32_t, char*, std::int32_t);

// The loaded library; never unloaded.
void* library()
{
    static void* handle = nullptr;
    if (!handle) {
        handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            throw Failure(FailureNumber::LibraryNotFound, why ? why : kLibraryName);
        }
    }
    return handle;
}

template <typename Fn> Fn lookUp(const char* name)
{
    void* handle = library();
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol)
        throw Failure(FailureNumber::FunctionNotFound, std::string(name) + " in " + kLibraryName);
    return reinterpret_cast<Fn>(symbol);
}

// Each function is resolved at its own first call, then kept.
template <typename Fn> Fn resolved(Fn& cache, const char* name)
{
    if (!cache)
        cache = lookUp<Fn>(name);
    return cache;
}

InstallFn g_install = nullptr;
VuFn g_vu = nullptr;
SpectrumFn g_spectrum = nullptr;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

std::uint8_t decodePair(char first, char second)
{
    const char pair[2] = {first, second};
    int i = 0;
    while (i < 2 && isBlank(pair[i]))
        ++i;
    int value = 0;
    for (int digit; i < 2 && (digit = hexDigitValue(pair[i])) >= 0; ++i)
        value = value * 16 + digit;
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::int16_t InstallPlugin()
{
    return resolved(g_install, "vbvis_install_plugin")() != 0 ? -1 : 0;
}

std::int16_t GetVu(std::int32_t channel)
{
    std::int16_t value = resolved(g_vu, "vbvis_vu")(channel);
    return value < 0 ? 0 : value;
}

std::int16_t spectrumBufferLength(std::int16_t n)
{
    if (n < 0 || n > kMaxSpectrumCount)
        throw Failure(FailureNumber::Overflow, "spectrum count " + std::to_string(n) + " (2n + 1 must fit 16 bits)");
    return static_cast<std::int16_t>(2 * n + 1);
}

std::vector<std::uint8_t> decodeSpectrumText(std::span<const char> text, std::int16_t n)
{
    if (n < 0 || text.size() < 2 * static_cast<std::size_t>(n))
        throw Failure(FailureNumber::Internal, "a spectrum text of " + std::to_string(text.size()) +
                                                   " characters cannot hold " + std::to_string(n) + " values");
    std::vector<std::uint8_t> values(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = decodePair(text[2 * i], text[2 * i + 1]);
    return values;
}

std::optional<std::vector<std::uint8_t>> GetSpectrum(std::int32_t channel)
{
    SpectrumFn spectrum = resolved(g_spectrum, "vbvis_spectrum");

    char empty[1] = {'\0'};
    const std::int16_t n = spectrum(0, empty, 0);

    const std::int16_t length = spectrumBufferLength(n);
    // length spaces and the terminating NUL; whatever the library writes
    // replaces the spaces.
    std::string text(static_cast<std::size_t>(length), ' ');
    spectrum(channel, text.data(), length);

    if (n == 0)
        return std::nullopt;
    return decodeSpectrumText(text, n);
}

}  // namespace lumora::modVbVis10
