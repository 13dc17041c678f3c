// The Win32 vocabulary the program is written in: scalar types, handles and the numbers of
// messages, flags and results, with their Win32 values.
//
// Types and handles live in namespace fw so that a backend may include <windows.h> beside
// this header; the constants are macros guarded the way windows.h defines them, with the
// same values, so either header may come first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

using BOOL = int;
using BYTE = std::uint8_t;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using REGSAM = std::uint32_t;

// Opaque handles. Each backend gives them its own meaning; the program only passes them on.
struct HWND__;
struct HICON__;
struct HDC__;
struct HKEY__;
using HWND = HWND__*;
using HICON = HICON__*;
using HCURSOR = HICON__*;
using HDC = HDC__*;
using HKEY = HKEY__*;
using HANDLE = void*;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

} // namespace fw

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Dialog results and standard command identifiers.
#ifndef IDOK
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#endif

// Message box flags.
#ifndef MB_OK
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L
#define MB_TYPEMASK 0x0000000FL
#endif

// Window messages the program sends, receives or maps.
#ifndef WM_PAINT
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUERYDRAGICON 0x0037
#define WM_ICONERASEBKGND 0x0027
#define WM_CANCELMODE 0x001F
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#endif
#ifndef WM_SYSCOMMAND
#define WM_SYSCOMMAND 0x0112
#define SC_CLOSE 0xF060
#endif
#ifndef ICON_SMALL
#define ICON_SMALL 0
#define ICON_BIG 1
#endif

// Notification codes carried in WM_COMMAND.
#ifndef BN_CLICKED
#define BN_CLICKED 0
#endif
#ifndef LBN_SELCHANGE
#define LBN_SELCHANGE 1
#endif

// List box messages and results.
#ifndef LB_INSERTSTRING
#define LB_INSERTSTRING 0x0181
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_ERR (-1)
#endif

// Progress bar and animation control messages.
#ifndef PBM_SETPOS
#define PBM_SETPOS (0x0400 + 2)
#endif
#ifndef ACM_OPENA
#define ACM_OPENA (0x0400 + 100)
#endif

// SetWindowPos flags.
#ifndef SWP_NOSIZE
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#endif

// System metrics.
#ifndef SM_CXICON
#define SM_CXICON 11
#define SM_CYICON 12
#endif

// Waits, events and threads.
#ifndef INFINITE
#define INFINITE 0xFFFFFFFF
#endif
#ifndef WAIT_OBJECT_0
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFF
#endif
#ifndef THREAD_PRIORITY_NORMAL
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_HIGHEST 2
#endif

// Registry.
#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0L
#endif
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2L
#endif
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5L
#endif
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234L
#endif
#ifndef KEY_QUERY_VALUE
#define KEY_QUERY_VALUE 0x0001
#define KEY_ALL_ACCESS 0xF003F
#endif

#ifndef HKEY_CLASSES_ROOT
#define HKEY_CLASSES_ROOT (reinterpret_cast<fw::HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#endif
