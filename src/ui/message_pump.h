#pragma once
// The non-blocking yield that keeps the dialog alive while the run works on its thread.

// Handles every waiting message; 0 when the queue is empty, 1 when a WM_QUIT
// was taken (the messages behind it stay queued) or handling a message threw.
int PumpMessages();

// Handles one message: 0 when none was waiting, else PeekMessageA's result.
// Throws the int 0 when the message is WM_QUIT.
int PumpOneMessage();
