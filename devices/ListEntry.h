// The text of one device list entry: written by the scan, read back by the selection.
//   "%.2d:HA#%.2d TID#%.2d %.8s %.16s "  index, host adapter, target, vendor, product.
// The vendor and product fields are copied as the device reports them, trailing blanks
// included; a zero byte ends a field early and no field is read past its width.
#pragma once

#include "framework/afxwin.h"
#include "zurvax/ZurvaxApi.h"

// The INQUIRY data's peripheral device type (the low five bits of its first byte), and the
// two types the scan and the selection look for.
inline constexpr uint8_t kDeviceTypeMask = 0x1F;
inline constexpr uint8_t kSequentialAccess = 1;
inline constexpr uint8_t kMediumChanger = 8;

CString FormatListEntry(UINT index, const SCSI_PATH& path, const INQUIRY_DATA& inquiry);

// The entry test: the two characters at offset 3 are "HA". An index of three or more
// digits shifts them and fails the test, so such entries can be listed but not chosen.
bool IsDeviceEntry(const CString& entry);

// The device index from the first two characters (leading decimal digits only).
UINT EntryDeviceIndex(const CString& entry);
