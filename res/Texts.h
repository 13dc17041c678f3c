// Every text the program shows, in one place. Each is used exactly as it stands.
#pragma once

namespace res::text {

// The user agreement: paragraphs separated by CR LF, 1,482 characters.
inline constexpr const char kAgreement[] =
    "VORN ELECTRONICS INC. FIRMWARE UPGRADE UTILITY - END USER AGREEMENT\r\n"
    "Please read this agreement carefully before you use this utility. By pressing Agree you "
    "accept its terms; if you do not accept them, press Disagree and the utility will close "
    "without touching any device.\r\n"
    "1. Licence. Vorn Electronics Inc. grants you a non-exclusive, non-transferable right to use "
    "this utility and the firmware images supplied with it solely to upgrade the firmware of "
    "KMR-47000 tape drives that you own or are authorised to service.\r\n"
    "2. Restrictions. You may not modify, reverse engineer, redistribute or sell the utility or "
    "the firmware images, nor use them with any other device or with images not supplied for this "
    "model.\r\n"
    "3. Your responsibility. A firmware upgrade rewrites the drive's microcode. Loss of power, a "
    "reset of the host or of the SCSI bus, or an interrupted download may leave the drive "
    "unusable. Back up your data, close all other programs and keep the drive and host powered "
    "until the utility reports the outcome.\r\n"
    "4. No warranty. The utility and the firmware are provided as is, without warranty of any "
    "kind, express or implied, including fitness for any particular purpose.\r\n"
    "5. Limitation of liability. Vorn Electronics Inc. is not liable for lost data, lost time or "
    "damage to equipment arising from the use of this utility, except where the law does not "
    "permit it.\r\n"
    "6. General. This is the whole agreement between you and Vorn Electronics Inc. about this "
    "utility and its use.";

// Main dialog and agreement.
inline constexpr const char kDeclineQuestion[] =
    "You must accept the agreement to continue.\nDo you want to go back and accept the agreement?";
inline constexpr const char kMakerCaption[] = "VORN Electronics Inc.";
inline constexpr const char kHeadingFormat[] = "Firmware Upgrade tool for Model %.16s ";

// Error report.
inline constexpr const char kNotReadyCauseNotReportable[] =
    "LOGICAL_UNIT_NOT_READY_CAUSE_NOT_REPORTABLE";
inline constexpr const char kMediumNotPresent[] = "MEDIUM_NOT_PRESENT";
inline constexpr const char kErrorStatusFormat[] = "Error: %x";
inline constexpr const char kReadSenseQuestion[] = "\nRead Sense Data ?";
inline constexpr const char kTapeErrorCaption[] = "Tape Control Error";
inline constexpr const char kSenseCaption[] = "ZEM Tape Control Sense Data";

// Device scan and selection.
inline constexpr const char kListEntryFormat[] = "%.2d:HA#%.2d TID#%.2d %.8s %.16s ";
inline constexpr const char kNoDevicesFound[] = "No supported Vorn tape devices found !!!";
inline constexpr const char kWrongDevice[] =
    "The Device may not be a tape drive or\nit may be the incorrect tape dirve model.\n";
inline constexpr const char kWrongDeviceCaption[] = "VORN - Firmware Upgrade Utility";

// Upgrade request.
inline constexpr const char kNotSupported[] = "Device is NOT Supported";
inline constexpr const char kConfirmUpgrade[] =
    "C A U T I O N ! ! !\n\nLoss of power during a firmware download operation\ncould cause "
    "PERMANENT DAMAGE to the device.\n\nIt is strongly recommended that you CLOSE all "
    "programs\nyou have running before continue.\n\nAre you sure you want to upgrade Current "
    "Firmware?";
inline constexpr const char kConfirmCaption[] = "VORN - Tape Firmware Upgrade";
inline constexpr const char kDriveInUse[] =
    "ERROR: The tape drive is in use by another program !!!\n\nClose the program that uses it "
    "and try again.";
inline constexpr const char kDriveNotLocked[] =
    "WARNING: The tape drive could not be locked against other programs !!!\n\nMake sure no "
    "backup software uses it during the upgrade.";
inline constexpr const char kThreadNotStarted[] =
    "ERROR: The firmware download could not be started !!!";

// Download worker.
inline constexpr const char kImageNotOpened[] = "ERROR: Firmware file could not be opened !!!";
inline constexpr const char kReadBackMismatch[] = "Error: ReadBuffer not equal to WriteBuffer";
inline constexpr const char kImageReadFailed[] = "ERROR: Firmware file could not be read !!!";
inline constexpr const char kImageEmpty[] = "ERROR: Firmware file is empty !!!";
inline constexpr const char kImageChanged[] =
    "ERROR: Firmware file changed while it was being sent !!!";
inline constexpr const char kUpgradeSucceeded[] =
    "Congratulations ! \n\nYour device firmware update is now complete.";
inline constexpr const char kUpgradeFailed[] = "Error: please check the device and try again.";

// Progress dialog.
inline constexpr const char kDownloadWarning[] =
    "WARNING !!!\r\n\r\nDO NOT INTERRUPT - When downloading firmware\r\nInterruption during "
    "upgrade could cause permanent\r\ndamage to the drive.\r\n";

// Start-up failures the program reports before any window.
inline constexpr const char kEventNotCreated[] =
    "ERROR: The program could not create its synchronisation event and cannot continue.";

} // namespace res::text

namespace res {
// Files looked up in the current directory.
inline constexpr const char kFirmwareImageName[] = "kmr47000_0200.gbf";
inline constexpr const char kAnimationName[] = "dl.avi";
} // namespace res
