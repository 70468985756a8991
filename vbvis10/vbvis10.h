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

/* Attaches the library to its audio source. Non-zero: attached. */
VBVIS10_API int16_t vbvis_install_plugin(void);

/* The channel's current VU value; 16000 is full scale for the program. */
VBVIS10_API int16_t vbvis_vu(int32_t channel);

/* Writes the channel's spectrum into buffer (at most length characters)
 * and returns the number of spectrum values available. */
VBVIS10_API int16_t vbvis_spectrum(int32_t channel, char *buffer, int32_t length);

#ifdef __cplusplus
}
#endif

#endif
