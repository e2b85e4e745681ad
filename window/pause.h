#ifndef ZELMORA_PAUSE_H
#define ZELMORA_PAUSE_H

// Blocks the calling thread for the given number of milliseconds (Windows
// Sleep, std::this_thread::sleep_for elsewhere). It lives in its own library
// so that tests can link a simulated clock in its place.
void pauseMs(int milliseconds);

#endif
