// How the station asks the C library to manage its memory, set once at start.
#pragma once

// A station running all day holds arrays of positions that keep growing. Blocks from 256 KiB up
// are mapped on their own, so that growing one (which moves it) gives the old block back to the
// system instead of leaving a hole in the heap. Does nothing where the C library has no such
// setting.
void keepLargeBlocksMapped();
