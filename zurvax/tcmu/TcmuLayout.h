/* The shared-memory layout of include/uapi/linux/target_core_user.h, as plain numbers.
 * That header declares C-only inline functions and its own struct iovec, so C++ cannot
 * include it; TcmuLayoutCheck.c compiles these numbers against it. */
#ifndef ZURVAX_TCMU_LAYOUT_H
#define ZURVAX_TCMU_LAYOUT_H

#define ZTCMU_MAILBOX_FLAGS 2
#define ZTCMU_MAILBOX_CMDR_OFF 4
#define ZTCMU_MAILBOX_CMDR_SIZE 8
#define ZTCMU_MAILBOX_CMD_HEAD 12
#define ZTCMU_MAILBOX_CMD_TAIL 64
#define ZTCMU_MAILBOX_SIZE 128

#define ZTCMU_FLAG_CAP_READ_LEN 0x2

#define ZTCMU_HDR_LEN_OP 0
#define ZTCMU_HDR_UFLAGS 7
#define ZTCMU_HDR_SIZE 8
#define ZTCMU_OP_MASK 0x7
#define ZTCMU_OP_PAD 0
#define ZTCMU_OP_CMD 1
#define ZTCMU_UFLAG_READ_LEN 0x2

#define ZTCMU_ENTRY_SIZE 112
#define ZTCMU_REQ_IOV_CNT 8
#define ZTCMU_REQ_CDB_OFF 24
#define ZTCMU_REQ_IOV 48
#define ZTCMU_IOVEC_SIZE 16
#define ZTCMU_IOVEC_LEN 8

#define ZTCMU_RSP_SCSI_STATUS 8
#define ZTCMU_RSP_READ_LEN 12
#define ZTCMU_RSP_SENSE 16
#define ZTCMU_SENSE_SIZE 96

#endif
