// <windows.h> for the Win32 backend, without the A/W macros whose names the
// seam uses for its own operations (CreateFile, LoadLibrary ...). Backend
// code calls the W functions by their full names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateFile
#undef DeleteFile
#undef CreateDirectory
#undef RemoveDirectory
#undef MoveFile
#undef GetFileAttributes
#undef GetCurrentDirectory
#undef GetFullPathName
#undef GetLongPathName
#undef SearchPath
#undef LoadLibrary
#undef FreeLibrary
#undef GetModuleFileName
#undef GetEnvironmentVariable
#undef ExpandEnvironmentStrings
#undef GetPrivateProfileString
#undef GetPrivateProfileInt
#undef WritePrivateProfileString
#undef GetTempPath
#undef CreateProcess
#undef ShellExecute
#undef StartService
#undef OpenService
#undef SetEnvironmentVariable
#undef GetUserName
#undef CreateMutex
#undef OpenMutex

static_assert(sizeof(wchar_t) == 2, "Win32 wide characters are UTF-16 units");
