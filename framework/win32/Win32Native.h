// <windows.h> for the backend's sources, ahead of the framework headers: the Win32 macros
// that would rename the class layer's members (SendMessage, MessageBox, LoadIcon, ...) are
// removed, so the backend names every system call by its own A or W name.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#undef SendMessage
#undef PostMessage
#undef DefWindowProc
#undef SetWindowText
#undef GetWindowText
#undef GetWindowTextLength
#undef MessageBox
#undef LoadIcon
#undef CreateEvent

#include "framework/fw.h"

namespace fw::win32 {

inline ::HWND Native(HWND window) { return reinterpret_cast<::HWND>(window); }
inline HWND Ours(::HWND window) { return reinterpret_cast<HWND>(window); }
inline ::HDC Native(HDC dc) { return reinterpret_cast<::HDC>(dc); }
inline ::HICON Native(HICON icon) { return reinterpret_cast<::HICON>(icon); }

} // namespace fw::win32
