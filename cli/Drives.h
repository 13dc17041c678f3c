// The drives the unattended commands act on: what the listing learnt of each, the same
// scan the main window makes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <cstddef>
#include <cstdint>

namespace cli {

// What names one drive: where the library lists it and what it says it is. The texts are
// the drive's own bytes (see Text.h before printing them).
struct DriveIdentity {
    std::uint32_t index = 0; // the library device index
    int host = 0;
    int target = 0;
    int lun = 0;
    std::string serial; // from the Unit Serial Number page; empty when the drive has none
    std::string vendor;
    std::string product;
    std::string revision;
    // The system's nodes of the drive (GetDeviceNodes): "/dev/sg3" and "/dev/nst0" on Linux;
    // empty where it has none (emulated drives, Windows). Not part of what names the drive.
    std::string passThroughNode;
    std::string tapeNode;

    std::string Path() const; // "HA:TID:LUN"
    // "drive 1 (0:1:0, serial SN-B)", printable whatever the drive's bytes.
    std::string Name() const;
    // The same drive: index, path, serial, vendor and product alike (the revision may move).
    bool SameDrive(const DriveIdentity& other) const;
};

// Every drive the program lists, in list order. An inquiry that fails is said on standard
// error; the drive is judged as the scan judges it.
std::vector<DriveIdentity> ListDrives();
// The one drive at a library index, asked of that drive alone; nothing when it is not one the
// program lists. Quiet: for a record kept beside a run, not for the operator.
std::optional<DriveIdentity> IdentityAt(std::uint32_t index);

// An identity as one printable word, for a child process: it cannot be mistaken for a
// selector, whatever bytes the drive's texts hold. Decode gives nothing for a word that is
// not one Encode made.
std::string EncodeIdentity(const DriveIdentity& drive);

// A decimal number of at most digits digits and nothing else (no sign, no blank): a number
// read any looser could name a drive nobody meant.
std::optional<unsigned long> DecimalNumber(const std::string& text, std::size_t digits);
std::optional<DriveIdentity> DecodeIdentity(const std::string& word);

} // namespace cli
