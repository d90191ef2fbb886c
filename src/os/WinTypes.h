#pragma once

// The few Win32 types, message numbers and macros that the system's classes speak in.

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Socket handles are opaque and never reused, so a late event of a closed socket
// can never be mistaken for one of its successor.
using SOCKET = std::uint64_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr WPARAM LOWORD(LPARAM l) {
    return WPARAM(l) & 0xFFFF;
}
constexpr WPARAM HIWORD(LPARAM l) {
    return (WPARAM(l) >> 16) & 0xFFFF;
}
constexpr LPARAM MAKELPARAM(unsigned low, unsigned high) {
    return LPARAM((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}
