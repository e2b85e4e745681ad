// The pauses of the program pass on the simulated clock, so that neither the
// tests nor the demo wait for them.

#include "model.h"

#include "pause.h"

void pauseMs(int milliseconds)
{
    if (milliseconds > 0)
        VirtualMeter::model().clockMs += milliseconds;
}
