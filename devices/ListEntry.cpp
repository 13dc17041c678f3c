#include "devices/ListEntry.h"

#include "res/Texts.h"

CString FormatListEntry(UINT index, const SCSI_PATH& path, const INQUIRY_DATA& inquiry) {
    CString text;
    text.Format(res::text::kListEntryFormat, static_cast<int>(index), int{path.bytes[1]},
                int{path.bytes[2]}, reinterpret_cast<const char*>(&inquiry.bytes[8]),
                reinterpret_cast<const char*>(&inquiry.bytes[16]));
    return text;
}

bool IsDeviceEntry(const CString& entry) {
    return entry.GetLength() >= 5 && entry.GetAt(3) == 'H' && entry.GetAt(4) == 'A';
}

UINT EntryDeviceIndex(const CString& entry) {
    UINT index = 0;
    for (int i = 0; i < 2 && i < entry.GetLength(); ++i) {
        const char c = entry.GetAt(i);
        if (c < '0' || c > '9') {
            break;
        }
        index = index * 10 + static_cast<UINT>(c - '0');
    }
    return index;
}
