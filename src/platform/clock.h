#pragma once

#include <cstdint>

namespace tv {

void Sleep(uint32_t ms);
// Milliseconds of a monotonic clock, wrapping at 2^32 like the tick counts they replace.
uint32_t GetTickCount();
uint32_t TimeGetTime();

// Process-wide media clock: a millisecond counter started by the first player
// engine and stopped by the last. Readable from any thread without a lock.
void StartMediaClock();
void StopMediaClock();
bool IsMediaClockRunning();
uint32_t MediaClockNow();

} // namespace tv
