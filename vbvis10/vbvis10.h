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
 * Why the floor rises: the program folds the 576 values into eight bands
 * (band b holds bins with floor(j * 10 / 576) == b, band 7 the last three
 * tenths, 15.5..22 kHz) and turns a band's sum into a lamp level 0..8 with
 * the band gain (4b + 7) / 56000. Band 7, with three times the bins and
 * five times the gain of band 0, fills at a sum of 1600, an average of 9
 * per bin. With one floor for all bins (-80 dB, curve 1.8) it sat at level
 * 8 half of the time on the demo and two thirds on pink noise, and always
 * on bright noise. Music has little energy up there; the higher floor makes
 * those lamps need real treble.
 *
 * Measurement: level shares in percent over 30 s (30 spectra a second,
 * both channels) of the demo and of pink noise pulsed on a beat under a
 * kick drum, its loudness swelling between -30 and -10 dB; before (one
 * floor of -80 dB, curve 1.8) and now:
 *
 *   level:   0  1  2  3  4  5  6  7  8   |   0  1  2  3  4  5  6  7  8
 *           demo, before                 |  demo, now
 *   band 0   0  0  0  8 53 36  3  0  0   |   0  0  0 12 59 29  1  0  0
 *   band 1  12 41 18 16  7  4  2  0  0   |   7 41 22 17  7  5  2  0  0
 *   band 2  18 30 15 14 11  3  3  3  2   |  11 29 19 16 12  4  4  3  1
 *   band 3  21 25 13 12 11  6  4  3  7   |  13 26 15 14 12  7  4  3  7
 *   band 4  24 21 11 10  9  7  5  3 10   |  14 23 15 11 11  8  6  3 10
 *   band 5  24 19 10  8  8  7  6  3 14   |  15 22 14  8 10  8  7  3 13
 *   band 6  23 19 10  7  8  6  6  5 17   |  19 22 12  8  9  8  6  3 14
 *   band 7  15  7  6  7  5  4  4  2 50   |  29 20  6  6  6  5  5  4 20
 *           pink noise music, before     |  pink noise music, now
 *   band 0   0 18 28 23 26  5  0  0  0   |   0 15 31 27 24  3  0  0  0
 *   band 1   0 24 21 17 22 14  2  0  0   |   0 18 25 19 25 12  1  0  0
 *   band 2   0 22 19 14 14 18 11  2  0   |   0 12 25 16 16 21  9  2  0
 *   band 3   0 21 17 12 11 13 16  8  3   |   0  9 23 13 13 14 18  7  2
 *   band 4   0 21 16 11 11 10 12 13  6   |   0  9 22 13 12 12 15 13  5
 *   band 5   0 19 15 10  9  9  9 13 16   |   0 11 20 13 10 10 11 15 11
 *   band 6   0 19 14 10  7  9  8  9 24   |   0 18 17 11 10  9 11 14 11
 *   band 7   0  0  5  9  7  5  6  3 67   |   5 26 11  7  8  5  7  6 27
 *
 * The same noise with the top end rolled off above 3 kHz now keeps bands
 * 1..7 at level 4 or below 95 % of the time (band 7 at 0 half of it);
 * raised by 6 dB per octave above 3 kHz it drives bands 3..7 to 8 a third
 * to a good half of the time (band 7 57 %, before always). The demo's
 * upper bands sit at 0 between its hi-hats; its band 0 holds its steady
 * bass and chords on levels 3..5. The floor's shape (-90 dB, 50 dB, power
 * 6, curve 2.2) came from a search over floors rising with frequency
 * that kept every band of both signals below a third of the time at 0 or
 * at 8. tests/vbvis10 prints these tables and checks their spreads
 * (Analysis.MusicMovesTheBandsAcrossTheirLevels).
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
VBVIS10_API int16_t vbvis_spectrum(int32_t channel, char *buffer, int32_t length);

#ifdef __cplusplus
}
#endif

#endif
