#pragma once
// The descriptors a start needs. Qt opens most of its descriptors while it starts (the X
// connection, one wake-up descriptor per thread's event loop, the fonts' files, the session
// bus), and a thread whose wake-up descriptor cannot be made ends the process with a trap in
// GLib. So the start makes sure first that the limit leaves room for them.
#include <string>

namespace koravex {

// Free at the check, before Qt starts: a start with the drive helpers, the bus and the
// instance socket opens 14 more once the window is up (21 in all, measured); the rest is room
// for Qt's painting threads, a replaced drive helper and a second start's connection.
inline constexpr int kDescriptorsNeeded = 18;

// Raises the soft limit on open descriptors towards the hard one when fewer than `needed` are
// free, then says why the program cannot start when still too few are (empty when enough).
std::string descriptorProblem(int needed = kDescriptorsNeeded);

}  // namespace koravex
