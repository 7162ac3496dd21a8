// Scheduling priority of an engine thread.
#pragma once

namespace velmor {

// Lowers the calling thread's nice value by up to `steps` below its current value, as far as the
// system permits (the caller needs CAP_SYS_NICE or a RLIMIT_NICE allowance; a real-time policy is
// not used, so a thread that misbehaves can never starve the machine). Quietly stays where it is
// when nothing is permitted. Returns the thread's nice value afterwards.
int RaiseThreadPriority(int steps);

// Raises the calling thread's nice value by `steps` (always permitted), for background work that
// must not take the processor from the engine threads.
void LowerThreadPriority(int steps);

// The calling thread's nice value.
int ThreadNiceValue();

}  // namespace velmor
