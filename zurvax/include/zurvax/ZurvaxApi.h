// The contract between a program and the SCSI pass-through library ZURVAX: the library's
// public interface, with ZurvaxStatus.h beside it. Nothing else of the library is public.
//
// The library exports the operations below; a program imports them (from ZURVAX.dll on
// Windows, linked statically elsewhere). Every operation names its device by a library device index
// counted from 0. All records are owned by the caller, who zero-fills them before a call;
// the library writes into them only on success (GetScsiPath returns its record by value).
#pragma once

#include <stdint.h>

#include "zurvax/ZurvaxStatus.h"

#if defined(_WIN32) && defined(ZURVAX_BUILDING_DLL)
#define ZURVAX_API __declspec(dllexport)
#else
// Plain declarations on the importing side: they bind to the DLL's import library on
// Windows and to the statically linked library in tests and on Linux alike.
#define ZURVAX_API
#endif

#pragma pack(push, 1)
// Standard INQUIRY data: byte 0 bits 0-4 device type, 8-15 vendor, 16-31 product,
// 32-35 revision, all blank padded. Nothing else is read by the program.
typedef struct _INQUIRY_DATA {
    uint8_t bytes[36];
} INQUIRY_DATA;

// Bytes 0-14 of fixed-format sense data (response code 70h/71h).
typedef struct _SENSE_DATA {
    uint8_t bytes[15];
} SENSE_DATA;

// Byte 1 host adapter number, byte 2 target id, byte 3 logical unit; byte 0 unused.
typedef struct _SCSI_PATH {
    uint8_t bytes[4];
} SCSI_PATH;

// The operating system's names of a device, each zero-terminated and empty where the device
// has none: the pass-through node the library sends its commands through (Linux /dev/sgN)
// and the tape driver's node ClaimDevice holds (Linux /dev/nstN).
typedef struct _DEVICE_NODES {
    char passThrough[64];
    char tape[64];
} DEVICE_NODES;
#pragma pack(pop)

// Library status values. 0 is success, the named codes below are the ones callers
// accept or test for; every other value is a failure, except ClaimDevice's
// ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK. A CHECK CONDITION is reported as
// (ASC << 8) | ASCQ; failures the library detects itself are above 0xFFFF
// (ZurvaxStatus.h lists them).
enum : uint32_t {
    SCSI_STATUS_OK = 0,
    MEDIUM_NOT_PRESENT = 0x3A00,
    LOGICAL_UNIT_NOT_READY_CAUSE_NOT_REPORTABLE = 0x0400,
    END_OF_DEVICE_LIST = 0xAA82,
};

// The device type GetDeviceType reports for an index with no device.
enum : uint8_t { NO_DEVICE_TYPE = 31 };

// A serial number buffer of this size always holds what ReadSerialNumber hands over.
enum : uint32_t { SERIAL_NUMBER_SIZE = 256 };

// WRITE BUFFER / READ BUFFER modes the program uses.
enum : uint8_t {
    BUFFER_MODE_DATA = 2,
    BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE = 5,
};

#ifdef __cplusplus
extern "C" {
#endif

// Peripheral device type (0-31) from the device's INQUIRY data; NO_DEVICE_TYPE when no
// device answers at this index.
ZURVAX_API uint8_t GetDeviceType(uint32_t index);
// INQUIRY (36 bytes) into *data. END_OF_DEVICE_LIST when the index lies past the last device.
ZURVAX_API uint32_t ReadRawInquiryData(uint32_t index, INQUIRY_DATA* data);
// The device's path; all zero when there is no device at this index.
ZURVAX_API SCSI_PATH GetScsiPath(uint32_t index);
// The device's nodes into *nodes; sends no command. END_OF_DEVICE_LIST when the index lies
// past the last device; ZURVAX_STATUS_INVALID_ARGUMENT when nodes is null. Emulated drives
// and the Windows transport name none; a name too long for its field is left empty rather
// than cut short.
ZURVAX_API uint32_t GetDeviceNodes(uint32_t index, DEVICE_NODES* nodes);
// TEST UNIT READY.
ZURVAX_API uint32_t TestUnitReady(uint32_t index);
// REQUEST SENSE in fixed format into *sense.
ZURVAX_API uint32_t RequestSense(uint32_t index, SENSE_DATA* sense);
// WRITE BUFFER (10) sending length bytes from data (data may be null when length is 0).
ZURVAX_API uint32_t WriteBuffer(uint32_t index, uint8_t mode, uint8_t bufferId, uint32_t offset,
                                uint32_t length, uint8_t* data);
// READ BUFFER (10) receiving exactly length bytes into data; a short transfer is a failure.
// The device writes into data in place, so after a failure data may hold part of what it
// sent; its first byte is always left as the caller set it, and nothing past length is
// touched.
ZURVAX_API uint32_t ReadBuffer(uint32_t index, uint8_t mode, uint8_t bufferId, uint32_t offset,
                               uint32_t length, uint8_t* data);
// The product serial number from the device's Unit Serial Number page (INQUIRY with EVPD,
// page 80h) into serial, owned by the caller: the text as the device sent it, the blanks
// (or zero bytes) it is padded with on either side removed, zero-terminated. Written only on
// success. ZURVAX_STATUS_INVALID_ARGUMENT with nothing written when serial is null or size
// cannot hold the number and its zero (SERIAL_NUMBER_SIZE always can); a device without the
// page answers CHECK CONDITION, e.g. 0x2400.
ZURVAX_API uint32_t ReadSerialNumber(uint32_t index, char* serial, uint32_t size);
// Claims the device for this process until ReleaseDevice, so that no other program reaches
// it through the operating system's tape driver (backup software, mt) while its microcode is
// replaced: the tape device of the same unit is held open exclusively (Linux /dev/nstN,
// Windows \\.\TapeN). 0 when claimed, also when the unit has no tape device (nothing is
// then held); ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK when claimed with nothing held because the
// system has a tape device that may be this unit's but cannot be told to be (under Wine,
// say): the caller may go on, but other programs are not kept out, and ReleaseDevice is still
// owed; ZURVAX_STATUS_DEVICE_IN_USE when another program, or an earlier ClaimDevice of this
// one, holds it; ZURVAX_STATUS_PERMISSION_DENIED when this user may not open it.
ZURVAX_API uint32_t ClaimDevice(uint32_t index);
// Gives a claimed device back. 0, also for a device that was not claimed.
ZURVAX_API uint32_t ReleaseDevice(uint32_t index);

// Opens the library's device source (emulation file, or the operating system's devices).
// Returns 0, or a library status with a one-line description in message (always
// zero-terminated, truncated to size). 0 with a non-empty message: a warning the program
// shows once, before its first scan (e.g. the system's SCSI devices exist but this user may
// open none of them); 0 with an empty message: nothing to say. Operations call it implicitly
// on first use; the program calls it once the operator has accepted the agreement, so that
// declining touches no device, and before its first scan.
ZURVAX_API uint32_t ZurvaxOpen(char* message, uint32_t size);

#ifdef __cplusplus
}
#endif
