// Keeps the window answering while one thread works through a long step.
#pragma once

// Handles the messages other threads and programs send to this thread's
// windows (a read of a window text, the platform's hung-window check) and
// takes nothing off the queue, so no input is dispatched and no handler runs.
// Cheap enough for every pass of a loop: it looks at the queue only when
// BeatInterval has passed since it last did.
void Heartbeat();

inline constexpr unsigned BeatIntervalMs = 100;
