// How the program reads the library's own statuses (those above 0xFFFF).
#pragma once

#include <cstdint>

// True for a library status that says the device stopped answering during a command (it
// was reset, went off the bus, or the command timed out), as a drive does while it restarts
// with new microcode.
bool DeviceWentAway(std::uint32_t status);

// True for a claim refused because another program (backup software, say) has the drive.
bool DeviceInUse(std::uint32_t status);

// True for a claim that holds the drive for us but could not lock other programs out of it
// (its tape device could not be found): the upgrade may go on, the operator warned.
bool ClaimedWithoutLock(std::uint32_t status);
