// The Win32 vocabulary of keyboard input and of the dialog manager, with the Win32 values,
// for the model window system and whoever feeds it keys (the terminal, tests). Guarded the
// way windows.h defines them, as framework/fwtypes.h is.
#pragma once

#include "framework/fwtypes.h"

#ifndef WM_KEYDOWN
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#endif
#ifndef WM_NEXTDLGCTL
#define WM_NEXTDLGCTL 0x0028
#endif
#ifndef WM_GETDLGCODE
#define WM_GETDLGCODE 0x0087
#endif

// Dialog messages and the codes controls answer WM_GETDLGCODE with.
#ifndef DM_GETDEFID
#define DM_GETDEFID 0x0400
#define DM_SETDEFID 0x0401
#endif
#ifndef DC_HASDEFID
#define DC_HASDEFID 0x534B
#endif
#ifndef DLGC_WANTARROWS
#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_WANTALLKEYS 0x0004
#define DLGC_WANTMESSAGE 0x0004
#define DLGC_HASSETSEL 0x0008
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_WANTCHARS 0x0080
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000
#endif

#ifndef BM_CLICK
#define BM_CLICK 0x00F5
#endif
#ifndef LB_GETTOPINDEX
#define LB_GETTOPINDEX 0x018E
#endif
#ifndef EM_GETFIRSTVISIBLELINE
#define EM_GETFIRSTVISIBLELINE 0x00CE
#endif

// Virtual keys; letters and digits are their upper-case ASCII codes.
#ifndef VK_TAB
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#endif
