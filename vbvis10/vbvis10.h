/* SPDX-License-Identifier: GPL-3.0-or-later */
/*
 * libVbVis10 — the visualization bridge that Lumora loads at run time.
 *
 * Three functions with C linkage, exported by name. Results are 16-bit
 * signed integers, arguments 32-bit signed integers, as the program declares
 * them when it looks them up with dlsym(). The functions are thread-safe and
 * never block their caller for long.
 *
 * Channels: 0 is the left channel, 1 the right one.
 *
 * Spectrum text: a spectrum of n values is written as 2n characters, two
 * hexadecimal digits per value (0..255), value 0 first, from the start of
 * the caller's buffer. A call with a length of 0 writes nothing and only
 * answers the count.
 *
 * Source: the environment variable LUMORA_SOURCE, read at installation.
 *   pulse        the sound server's monitor of the default output (follows
 *                a change of the default; never a microphone)
 *   pulse:NAME   the sound server's source NAME
 *   fifo:PATH    raw signed 16-bit little-endian stereo at 44100 Hz from a
 *                named pipe (a music player's fifo output)
 *   file:PATH    a sound file, played in a loop in real time, silently
 *   demo         a built-in piece of music
 *   auto, unset  pulse when a sound server answers, otherwise demo
 * Capture runs on a thread of the library's own; with pulse, while calls
 * come, each call takes in (without blocking) what the server has sent
 * since the last one, and that thread sleeps. A lost sound server reads
 * as silence and is reconnected every second; a source that stops
 * delivering reads as silence after 250 ms. Installation waits at most 3 s
 * for the sound server; the other calls never block beyond a short lock,
 * and compute on the caller's thread.
 *
 * Idle: the program calls vbvis_vu and vbvis_spectrum only while it sends
 * to the display. After a second without a call the library pauses its
 * capture: pulse corks its stream, demo and file stop generating, fifo
 * keeps reading the pipe (so that its writer never blocks) but drops what
 * it reads. The next call resumes it and answers at once, with silence
 * (zeros) like every call until the first fresh values, which follow
 * within 50 ms (demo and file at once, with a whole 46 ms window).
 *
 * Spectrum: 320 values per channel, laid out for the program's eight bands
 * (it folds n values into bands by position, value j into band
 * floor(j * 10 / n), band 7 taking the last three tenths): values 32b to
 * 32b + 31 carry band b (0..6), values 224 to 319 band 7. Each band answers
 * to its own part of the musical range:
 *     band   0     1     2     3     4      5      6      7
 *     Hz    40   125   250   500   1000   2000   4000   8000 .. 16000
 * measured on the newest 2048 samples (46 ms) under a window that leans
 * towards the newest ones. A band's values share evenly the sum that
 * lights its level L (0..8) in the program, L * 100 * 56000 / ((4b + 7) *
 * 795); what the division leaves goes one each to the band's first values.
 *
 * Sensitivity: the environment variable LUMORA_SENSITIVITY, read at
 * installation.
 *   auto, unset  the levels follow the music's loudness, so that the same
 *                music lights the lamps about the same at any volume: up
 *                within 50 ms, down over seconds when the volume is turned
 *                down; a slow balance between the bands; a pause or a
 *                sound server's dither stays dark
 *   fixed        an absolute scale: a band at E dB relative to a
 *                full-scale sine (amplitude 32767) lying in the band shows
 *                level 8 + (E + 3) / 4.5, rounded by the program and held
 *                to 0..8: a full-scale sine lights its band to 8, every
 *                4.5 dB less one lamp less, the first lamp at -37 dB
 * Any other value makes installation fail.
 *
 * VU: the RMS of the channel's newest 1024 samples (23 ms) in 16-bit
 * units, 0..32767; a full-scale sine gives about 23170. With the automatic
 * sensitivity the RMS is scaled as the levels are, so that the music's
 * loud moments reach about 13000.
 *
 * A mono source feeds both channels; one channel never shows the other's
 * sound; silence and a source with no data give zeros everywhere (the
 * count is still 320).
 */
#ifndef VBVIS10_H
#define VBVIS10_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VBVIS10_API __attribute__((visibility("default")))
#else
#define VBVIS10_API
#endif

/* Attaches the library to the source LUMORA_SOURCE names, with the
 * sensitivity LUMORA_SENSITIVITY names. Non-zero: attached (further calls
 * answer non-zero and change nothing). 0: the source cannot be opened
 * (missing or unreadable file or pipe, no sound server for pulse, unknown
 * name) or the sensitivity is unknown; one line on stderr says why. */
VBVIS10_API int16_t vbvis_install_plugin(void);

/* The channel's current VU value, 0..32767; 16000 is full scale for the
 * program. Channel 0 is left, any other value right. */
VBVIS10_API int16_t vbvis_vu(int32_t channel);

/* Writes the channel's spectrum into buffer (at most length characters,
 * never a NUL; nothing when length <= 0 or buffer is NULL) and returns the
 * number of spectrum values, 320. */
VBVIS10_API int16_t vbvis_spectrum(int32_t channel, char* buffer, int32_t length);

#ifdef __cplusplus
}
#endif

#endif
