/*
 * mosk_test.h - test hooks of the runtime services. Not for production use.
 *
 * Allocation tracking: once switched on, every MOSK_Malloc/MOSK_Free is
 * counted, so a test can see blocks left live. Switch it on before the
 * first allocation you want to account for.
 *
 * Fault injection: MOSK_TestFailAllocation(n, persistent) makes the n-th
 * allocation from now (0 = the next one) return NULL; with `persistent`
 * every allocation after it fails as well, until MOSK_TestClearFault.
 *
 * Log capture: while on, each debug message's text is kept in memory (and
 * still written to the log file when one is configured). A line that
 * cannot be kept (no memory) is dropped; nothing is thrown to the caller.
 */
#ifndef MOSK_TEST_H
#define MOSK_TEST_H

#include "mosk.h"

#ifdef __cplusplus
extern "C" {
#endif

MOSK_API void MOSK_TestTrackAllocations(int on);
MOSK_API int64_t MOSK_TestLiveBlocks(void);
MOSK_API uint64_t MOSK_TestAllocationCount(void);

MOSK_API void MOSK_TestFailAllocation(uint64_t n, int persistent);
MOSK_API void MOSK_TestClearFault(void);
MOSK_API int MOSK_TestFaultFired(void);

MOSK_API void MOSK_TestCaptureLog(int on);
MOSK_API uint32_t MOSK_TestLogCount(void);
/* MOSK_TestLogLine: text of captured line i (NULL past the last), valid
 * until the next clear; later captures do not move it. */
MOSK_API const char *MOSK_TestLogLine(uint32_t i);
MOSK_API void MOSK_TestLogClear(void);

#ifdef __cplusplus
}
#endif

#endif /* MOSK_TEST_H */
