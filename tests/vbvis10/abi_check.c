// SPDX-License-Identifier: GPL-3.0-or-later
/*
 * Calls the library through its C header from a program compiled as C, the
 * way the program declares the functions. Two modes:
 *   abi_check attached   LUMORA_SOURCE names a working source (demo): the
 *                        install succeeds, values arrive, buffers are
 *                        written exactly within their length.
 *   abi_check refused    LUMORA_SOURCE names a source that cannot be opened:
 *                        the install answers 0 and the functions give zeros.
 */
#define _POSIX_C_SOURCE 200809L

#include "vbvis10.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

enum { kCount = 320, kText = 2 * kCount };

static int failures = 0;

static void check(int ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "abi_check: FAILED: %s\n", what);
        ++failures;
    }
}

static int is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

static void sleep_ms(long ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&ts, NULL);
}

/* The buffer as the program hands it over: 2n + 1 spaces and a NUL, with a
 * guard byte behind that must survive. */
static char text[kText + 3];

static void fill_spaces(void)
{
    memset(text, ' ', kText + 1);
    text[kText + 1] = '\0';
    text[kText + 2] = '#';
}

static int any_value_above_zero(void)
{
    int i;
    for (i = 0; i < kText; ++i)
        if (text[i] != '0')
            return 1;
    return 0;
}

int main(int argc, char** argv)
{
    const int attached = argc > 1 && strcmp(argv[1], "attached") == 0;
    char empty[1] = "";
    char shortBuffer[12];
    int waited, i;

    check(vbvis_spectrum(0, empty, 0) == kCount, "count query before install answers 320");
    check(vbvis_vu(0) == 0 && vbvis_vu(1) == 0, "VU before install is 0");

    if (!attached) {
        check(vbvis_install_plugin() == 0, "install of a source that cannot be opened answers 0");
        fill_spaces();
        check(vbvis_spectrum(1, text, kText + 1) == kCount, "fill call answers 320");
        check(!any_value_above_zero(), "no source: all values 0");
        check(vbvis_vu(0) == 0, "no source: VU 0");
        return failures ? 1 : 0;
    }

    check(vbvis_install_plugin() != 0, "install answers non-zero");
    check(vbvis_install_plugin() != 0, "a second install answers non-zero too");

    /* Wait (bounded) until the source has delivered sound on both channels. */
    for (waited = 0; waited < 10000 && (vbvis_vu(0) == 0 || vbvis_vu(1) == 0); waited += 10)
        sleep_ms(10);
    check(vbvis_vu(0) > 0 && vbvis_vu(1) > 0, "VU of both channels rises");

    check(vbvis_spectrum(0, empty, 0) == kCount, "count query answers 320");
    check(empty[0] == '\0', "count query writes nothing");

    fill_spaces();
    check(vbvis_spectrum(0, text, kText + 1) == kCount, "fill call answers 320");
    for (i = 0; i < kText; ++i)
        if (!is_hex(text[i])) {
            check(0, "fill call writes 640 hex digits");
            break;
        }
    check(text[kText] == ' ' && text[kText + 1] == '\0' && text[kText + 2] == '#',
          "fill call leaves the last space, the NUL and what follows alone");
    check(any_value_above_zero(), "the spectrum of the sound is not all zeros");

    memset(shortBuffer, '#', sizeof shortBuffer);
    check(vbvis_spectrum(1, shortBuffer, 5) == kCount, "short fill call answers 320");
    for (i = 0; i < 5; ++i)
        check(is_hex(shortBuffer[i]), "short fill call writes up to its length");
    for (i = 5; i < (int)sizeof shortBuffer; ++i)
        check(shortBuffer[i] == '#', "short fill call writes nothing past its length");

    check(vbvis_spectrum(0, NULL, 100) == kCount, "a null buffer is not written");
    check(vbvis_spectrum(0, text, -3) == kCount, "a negative length writes nothing");

    if (failures == 0)
        printf("abi_check: all checks passed\n");
    return failures ? 1 : 0;
}
