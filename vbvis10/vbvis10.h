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
 * Spectrum: 576 values per channel, linear bins of 38.28 Hz from 0 Hz
 * (bin k covers k * 44100 / 1152 Hz), the magnitudes of an FFT of the
 * newest 1152 samples (26 ms) under a Hann window. Uppercase hex digits.
 * Scale, logarithmic in level and bent towards the top:
 *     value = 255 * (1 + dB / 80) ^ 1.8, clamped to 0..255,
 * with dB relative to a full-scale sine centred on a bin, less 1.5 dB (a
 * Hann window loses up to 1.42 dB on a sine between two bins), so any
 * full-scale sine gives 255 in its bin; -40 dB gives about 78, -70 dB
 * about 8, anything below -78.5 dB and silence give 0.
 *
 * Measurement behind the scale: the program folds the 576 values into
 * eight bands (band b holds bins with floor(j * 10 / 576) == b, band 7 the
 * last three tenths) and turns a band's sum into a lamp level 0..8 with the
 * band gain (4b + 7) / 56000. Level shares in percent over 30 s (60
 * spectra a second, both channels) of the demo and of pink noise pulsed on
 * a beat under a kick drum, its loudness swelling between -30 and -10 dB:
 *
 *   level:   0  1  2  3  4  5  6  7  8   |   0  1  2  3  4  5  6  7  8
 *           demo                         |  pink noise music
 *   band 0   0  0  0  9 53 35  2  0  0   |   0 18 30 22 25  5  0  0  0
 *   band 1  12 41 19 13  8  5  2  0  0   |   0 25 23 16 21 14  2  0  0
 *   band 2  17 31 16 13  9  6  4  3  1   |   0 23 20 14 13 18 10  2  0
 *   band 3  21 25 13 12  9  6  5  3  7   |   0 22 18 12 11 12 16  7  2
 *   band 4  24 21 11 10  9  6  5  4 11   |   0 23 17 11 10 10 12 13  6
 *   band 5  24 20 10  8  8  6  6  4 15   |   0 21 16 11  8  8  9 12 15
 *   band 6  22 19 10  7  7  6  5  5 19   |   0 21 15 10  7  8  8  9 22
 *   band 7  14  7  6  7  5  4  3  3 51   |   0  0  5  9  7  5  6  3 64
 *
 * The same noise with the top end rolled off above 3 kHz keeps bands 1..6
 * between 0 and 4; raised by 6 dB per octave above 3 kHz it drives bands
 * 2..6 up to 8 a third to half of the time and band 7 to 8 always. Band 7,
 * with three times the bins and five times the gain of band 0, is the most
 * sensitive: bright music fills it. Band 0 rarely passes level 6.
 * tests/vbvis10 checks these spreads (MusicMovesTheBandsAcrossTheirLevels).
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
