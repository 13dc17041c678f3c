/* Fails the build when the kernel's ring layout differs from TcmuLayout.h. */
#include <linux/target_core_user.h>
#include <stddef.h>

#include "zurvax/tcmu/TcmuLayout.h"

#define SAME(a, b) _Static_assert((a) == (b), #a " != " #b)

SAME(offsetof(struct tcmu_mailbox, flags), ZTCMU_MAILBOX_FLAGS);
SAME(offsetof(struct tcmu_mailbox, cmdr_off), ZTCMU_MAILBOX_CMDR_OFF);
SAME(offsetof(struct tcmu_mailbox, cmdr_size), ZTCMU_MAILBOX_CMDR_SIZE);
SAME(offsetof(struct tcmu_mailbox, cmd_head), ZTCMU_MAILBOX_CMD_HEAD);
SAME(offsetof(struct tcmu_mailbox, cmd_tail), ZTCMU_MAILBOX_CMD_TAIL);
SAME(sizeof(struct tcmu_mailbox), ZTCMU_MAILBOX_SIZE);
SAME(TCMU_MAILBOX_FLAG_CAP_READ_LEN, ZTCMU_FLAG_CAP_READ_LEN);
SAME(offsetof(struct tcmu_cmd_entry_hdr, len_op), ZTCMU_HDR_LEN_OP);
SAME(offsetof(struct tcmu_cmd_entry_hdr, uflags), ZTCMU_HDR_UFLAGS);
SAME(sizeof(struct tcmu_cmd_entry_hdr), ZTCMU_HDR_SIZE);
SAME(TCMU_OP_MASK, ZTCMU_OP_MASK);
SAME(TCMU_OP_PAD, ZTCMU_OP_PAD);
SAME(TCMU_OP_CMD, ZTCMU_OP_CMD);
SAME(TCMU_UFLAG_READ_LEN, ZTCMU_UFLAG_READ_LEN);
SAME(sizeof(struct tcmu_cmd_entry), ZTCMU_ENTRY_SIZE);
SAME(offsetof(struct tcmu_cmd_entry, req.iov_cnt), ZTCMU_REQ_IOV_CNT);
SAME(offsetof(struct tcmu_cmd_entry, req.cdb_off), ZTCMU_REQ_CDB_OFF);
SAME(offsetof(struct tcmu_cmd_entry, req.iov), ZTCMU_REQ_IOV);
SAME(sizeof(struct iovec), ZTCMU_IOVEC_SIZE);
SAME(offsetof(struct iovec, iov_len), ZTCMU_IOVEC_LEN);
SAME(offsetof(struct tcmu_cmd_entry, rsp.scsi_status), ZTCMU_RSP_SCSI_STATUS);
SAME(offsetof(struct tcmu_cmd_entry, rsp.read_len), ZTCMU_RSP_READ_LEN);
SAME(offsetof(struct tcmu_cmd_entry, rsp.sense_buffer), ZTCMU_RSP_SENSE);
SAME(TCMU_SENSE_BUFFERSIZE, ZTCMU_SENSE_SIZE);
