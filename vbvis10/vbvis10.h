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
 * Capture runs on a thread of the library's own. A lost sound server reads
 * as silence and is reconnected every second; a source that stops
 * delivering reads as silence after 250 ms. Installation waits at most 3 s
 * for the sound server; the other calls only copy the newest samples under
 * a short lock and compute on the caller's thread.
 *
 * Idle: the program calls vbvis_vu and vbvis_spectrum only while it sends
 * to the display. After a second without a call the library pauses its
 * capture: pulse corks its stream, demo and file stop generating, fifo
 * keeps reading the pipe (so that its writer never blocks) but drops what
 * it reads. The next call resumes it and answers at once, with silence
 * (zeros) like every call until the first fresh values, which follow
 * within 50 ms (demo and file at once, with a whole 26 ms window).
 *
 * Spectrum: 576 values per channel, linear bins of 38.28 Hz from 0 Hz
 * (bin k covers k * 44100 / 1152 Hz), the magnitudes of an FFT of the
 * newest 1152 samples (26 ms) under a Hann window. Uppercase hex digits.
 * Scale, logarithmic in level and bent towards the top, with a floor that
 * rises over the top octave:
 *     value = 255 * (1 - dB / floor) ^ 2.2, clamped to 0..255,
 *     floor = -90 dB + 50 dB * (f / 22050 Hz) ^ 6,
 * with dB relative to a full-scale sine centred on a bin, less 1.5 dB (a
 * Hann window loses up to 1.42 dB on a sine between two bins), and f the
 * bin's frequency. Any full-scale sine gives 255 in its bin, at every
 * frequency. The floor stays near -90 dB up to 10 kHz and rises to -84 dB
 * at 15.5 kHz, -62 dB at 20 kHz and -40 dB at 22 kHz; a bin at or below it
 * and silence give 0. At 1 kHz -30 dB gives about 105, -40 dB about 70 and
 * -70 dB about 9; at 20 kHz -30 dB gives about 60 and -70 dB 0.
 *
 * The floor rises so that the top band, which sums three times the bins of
 * the lowest at five times its gain, needs real treble to light: why, and
 * the level shares it was tuned on, are in docs/spectrum-scale.md.
 *
 * VU: the RMS of the channel's newest 1024 samples (23 ms) in 16-bit
 * units, 0..32767; a full-scale sine gives about 23170.
 *
 * A mono source feeds both channels; one channel never shows the other's
 * sound; silence and a source with no data give zeros everywhere (the
 * count is still 576).
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

/* Attaches the library to the source LUMORA_SOURCE names. Non-zero:
 * attached (further calls answer non-zero and change nothing). 0: the
 * source cannot be opened (missing or unreadable file or pipe, no sound
 * server for pulse, unknown name); one line on stderr says why. */
VBVIS10_API int16_t vbvis_install_plugin(void);

/* The channel's current VU value, 0..32767; 16000 is full scale for the
 * program. Channel 0 is left, any other value right. */
VBVIS10_API int16_t vbvis_vu(int32_t channel);

/* Writes the channel's spectrum into buffer (at most length characters,
 * never a NUL; nothing when length <= 0 or buffer is NULL) and returns the
 * number of spectrum values, 576. */
VBVIS10_API int16_t vbvis_spectrum(int32_t channel, char* buffer, int32_t length);

#ifdef __cplusplus
}
#endif

#endif
