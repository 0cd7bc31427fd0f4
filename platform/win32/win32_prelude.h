// What a later *_win32.cpp includes instead of <windows.h>.
//
// <windows.h> defines as macros several names that the platform headers use
// for their own functions and constants (SendMessage, PostMessage,
// DeleteFile, CreateDirectory, MoveFile, MessageBox, LoadLibrary, IDOK,
// IDCANCEL, WM_USER, WM_QUIT). This header includes it and then removes
// those macros, so the platform headers, included after it, declare what
// they say; the Windows implementation calls the system's wide functions by
// their explicit names (::SendMessageW, ::DeleteFileW, ::MoveFileExW, ...),
// which are no macros. Only Windows builds include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef SendMessage
#undef PostMessage
#undef DeleteFile
#undef CreateDirectory
#undef MoveFile
#undef MessageBox
#undef LoadLibrary
#undef GetModuleFileName
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable
#undef IDOK
#undef IDCANCEL
#undef WM_USER
#undef WM_QUIT
#undef DrawText
#undef RegCreateKey
#undef WritePrivateProfileString
#undef CreateSymbolicLink
#undef GetTempPath
#undef WM_CLOSE
#undef WM_KEYDOWN
#undef WM_LBUTTONDOWN
#undef WM_LBUTTONUP
#undef WM_MOUSEMOVE
#undef WM_MOVE
#undef WM_PAINT
#undef WM_SIZE
#undef WM_TIMER
#undef VK_ESCAPE
#undef VK_RETURN
