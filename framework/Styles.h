// Window and control style bits dialog templates use, with their Win32 values, so that a
// resource script generated from the templates and the model-based backends read the same
// numbers.
#pragma once

#include <cstdint>

namespace fw::style {

constexpr std::uint32_t WS_POPUP = 0x80000000u;
constexpr std::uint32_t WS_CHILD = 0x40000000u;
constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
constexpr std::uint32_t WS_CAPTION = 0x00C00000u;
constexpr std::uint32_t WS_BORDER = 0x00800000u;
constexpr std::uint32_t WS_SYSMENU = 0x00080000u;
constexpr std::uint32_t WS_VSCROLL = 0x00200000u;
constexpr std::uint32_t WS_GROUP = 0x00020000u;
constexpr std::uint32_t WS_TABSTOP = 0x00010000u;

constexpr std::uint32_t DS_SETFONT = 0x40u;
constexpr std::uint32_t DS_MODALFRAME = 0x80u;

constexpr std::uint32_t WS_EX_DLGMODALFRAME = 0x00000001u;
constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000u;

constexpr std::uint32_t BS_PUSHBUTTON = 0x0u;
constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1u;
constexpr std::uint32_t BS_GROUPBOX = 0x7u;
constexpr std::uint32_t BS_LEFT = 0x100u;

constexpr std::uint32_t SS_LEFT = 0x0u;
constexpr std::uint32_t SS_BITMAP = 0xEu;
constexpr std::uint32_t SS_CENTERIMAGE = 0x200u;
constexpr std::uint32_t SS_SUNKEN = 0x1000u;

constexpr std::uint32_t ES_MULTILINE = 0x4u;
constexpr std::uint32_t ES_AUTOVSCROLL = 0x40u;
constexpr std::uint32_t ES_READONLY = 0x800u;

constexpr std::uint32_t LBS_NOTIFY = 0x1u;
constexpr std::uint32_t LBS_SORT = 0x2u;
constexpr std::uint32_t LBS_NOINTEGRALHEIGHT = 0x100u;

constexpr std::uint32_t ACS_AUTOPLAY = 0x4u;

} // namespace fw::style
