#pragma once

namespace koravex {

// The small picture beside a drive in the drive selector.
enum class DriveIcon { Floppy, Hard, Network, CdRom, Ram };

}  // namespace koravex
