/*
 * mosk.h - runtime services of the rycert2 family: memory and debug log.
 *
 * MOSK_Malloc / MOSK_Free are thread-safe and take no global lock.
 * MOSK_DebugMessage appends one line to the file named by the environment
 * variable MOSK_DEBUG_LOG (read once, at the first message); without it
 * nothing is written and nothing is allocated.
 */
#ifndef MOSK_H
#define MOSK_H

#include <stddef.h>
#include <stdint.h>

#define MOSK_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* MOSK_Malloc: a block of `size` bytes, or NULL when none can be had.
 * `sourceFile` and `line` name the caller for diagnostics. */
MOSK_API void *MOSK_Malloc(const char *sourceFile, int line, size_t size);

/* MOSK_Free: releases a block from MOSK_Malloc; NULL does nothing.
 * Returns 0. */
MOSK_API int MOSK_Free(void *block);

/* MOSK_DebugMessage: one log line "<UTC time stamp> <sourceFile>:<line>
 * <text>". `logFile` is the caller's nominal log name; the line goes to
 * the file that MOSK_DEBUG_LOG names. Returns 0 (also when disabled). */
MOSK_API int MOSK_DebugMessage(const char *logFile, const char *sourceFile, int line,
                               const char *text);

/* MOSK_DebugEnabled: nonzero when a debug message would go anywhere (a
 * log file is named, or a test captures lines). Lets callers skip
 * composing lines nobody reads. */
MOSK_API int MOSK_DebugEnabled(void);

/* MOSK_DebugFlag: the address of a word that is zero only when no debug
 * message would go anywhere, so that a caller can skip a line with one
 * inline load instead of a call. The address is the same for the life of
 * the process. Until the first MOSK_DebugEnabled or MOSK_DebugMessage call
 * has looked at MOSK_DEBUG_LOG the word is nonzero (not yet known): on a
 * nonzero word, call MOSK_DebugEnabled for the answer. Read it with a
 * relaxed atomic load (__atomic_load_n(flag, __ATOMIC_RELAXED)); the
 * runtime writes it atomically. */
MOSK_API const volatile int *MOSK_DebugFlag(void);

#ifdef __cplusplus
}
#endif

#endif /* MOSK_H */
