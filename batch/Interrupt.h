#pragma once

// SIGINT and SIGTERM during `glyphtack caption`: while an InterruptWatch lives, either signal only
// marks the run as interrupted, so that the run starts no more pictures, lets the ones in progress
// end (each either placed whole or removed with its temporary files), removes its private folder
// and prints what was and was not written before it exits with 128 + the signal's number.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    // The signal that came, or 0.
    static int signal();
};
