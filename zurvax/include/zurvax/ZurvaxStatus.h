// Library status values beyond those the contract names (ZurvaxApi.h).
//
// A status is 0 for success, (ASC << 8) | ASCQ for a CHECK CONDITION that carries an
// additional sense code, END_OF_DEVICE_LIST (0xAA82) from ReadRawInquiryData past the last
// device, or one of the values below for a failure the library detects itself. These all
// lie above 0xFFFF so that they can never be mistaken for an ASC/ASCQ pair.
//
//   name                                     value        meaning
//   ZURVAX_STATUS_NO_SUCH_DEVICE             0x00010001   index past the last device, or the
//                                                         device went away (ENODEV, no connect)
//   ZURVAX_STATUS_TRANSPORT_ERROR            0x00010002   host adapter or driver reported a
//                                                         failure (bus reset, aborted, parity)
//   ZURVAX_STATUS_TIMEOUT                    0x00010003   the command did not complete in time
//   ZURVAX_STATUS_BUSY                       0x00010004   SCSI status BUSY
//   ZURVAX_STATUS_RESERVATION_CONFLICT       0x00010005   SCSI status RESERVATION CONFLICT
//   ZURVAX_STATUS_OTHER_SCSI_STATUS          0x00010006   any other SCSI status that is not GOOD
//                                                         (TASK SET FULL, ACA ACTIVE, ...)
//   ZURVAX_STATUS_FIELD_TOO_LARGE            0x00010007   offset or length does not fit the CDB;
//                                                         nothing was sent
//   ZURVAX_STATUS_PERMISSION_DENIED          0x00010008   the OS refused access to the device
//   ZURVAX_STATUS_BAD_EMULATION_FILE         0x00010009   ZURVAX_EMULATION names a file that
//                                                         cannot be used; no device is offered
//   ZURVAX_STATUS_SHORT_TRANSFER             0x0001000A   fewer bytes moved than the command
//                                                         needs (READ BUFFER returned less than
//                                                         asked, a VPD page shorter than its own
//                                                         length or not the page asked for); the
//                                                         caller's buffer is untouched but for
//                                                         READ BUFFER's (see ReadBuffer)
//   ZURVAX_STATUS_CHECK_CONDITION_NO_ASC     0x0001000B   CHECK CONDITION whose sense carries
//                                                         ASC/ASCQ 00/00
//   ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE   0x0001000C   CHECK CONDITION without sense data, or
//                                                         with sense in a format not understood
//   ZURVAX_STATUS_OS_ERROR                   0x0001000D   the OS failed the request for another
//                                                         reason (EIO, ENOMEM, ...)
//   ZURVAX_STATUS_INVALID_ARGUMENT           0x0001000E   a null record or data pointer where
//                                                         one is needed, or a text buffer too
//                                                         small for the answer; nothing written
//   ZURVAX_STATUS_DEVICE_IN_USE              0x0001000F   ClaimDevice: another program (or an
//                                                         earlier claim) holds the device
//   ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK       0x00010010   ClaimDevice: not a failure; claimed,
//                                                         but the OS's tape device of the unit
//                                                         could not be found, so nothing keeps
//                                                         other programs out of the drive
#pragma once

#include <stdint.h>

enum : uint32_t {
    ZURVAX_STATUS_NO_SUCH_DEVICE = 0x00010001,
    ZURVAX_STATUS_TRANSPORT_ERROR = 0x00010002,
    ZURVAX_STATUS_TIMEOUT = 0x00010003,
    ZURVAX_STATUS_BUSY = 0x00010004,
    ZURVAX_STATUS_RESERVATION_CONFLICT = 0x00010005,
    ZURVAX_STATUS_OTHER_SCSI_STATUS = 0x00010006,
    ZURVAX_STATUS_FIELD_TOO_LARGE = 0x00010007,
    ZURVAX_STATUS_PERMISSION_DENIED = 0x00010008,
    ZURVAX_STATUS_BAD_EMULATION_FILE = 0x00010009,
    ZURVAX_STATUS_SHORT_TRANSFER = 0x0001000A,
    ZURVAX_STATUS_CHECK_CONDITION_NO_ASC = 0x0001000B,
    ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE = 0x0001000C,
    ZURVAX_STATUS_OS_ERROR = 0x0001000D,
    ZURVAX_STATUS_INVALID_ARGUMENT = 0x0001000E,
    ZURVAX_STATUS_DEVICE_IN_USE = 0x0001000F,
    ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK = 0x00010010,
};
