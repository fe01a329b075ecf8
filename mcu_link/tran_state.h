// The transfer state: what the sender does next when it is woken. Held by the
// loader object and written by the updater's three threads.
#pragma once

#include <cstdint>

enum eTranState : std::uint8_t {
    eTranState_Start = 0,   // send the start block
    eTranState_Data = 1,    // send the next data block (or the end block when none is left)
    eTranState_Repeat = 2,  // send the current block again, unchanged
    eTranState_End = 3,     // send the end block
    eTranState_Stop = 4,    // the transfer is over; send nothing
};
