// Token and device-setup stand-ins. Not built yet: every call fails until
// the installer environment checks land.
#include <windows.h>

extern "C" {
BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE) { return FALSE; }
BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                     DWORD, PSID*) {
  return FALSE;
}
BOOL WINAPI GetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) { return FALSE; }
BOOL WINAPI EqualSid(PSID, PSID) { return FALSE; }
PSID WINAPI FreeSid(PSID) { return nullptr; }
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID*, LPCSTR, HWND, DWORD) { return nullptr; }
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA) { return FALSE; }
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD) {
  return FALSE;
}
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) { return FALSE; }
}
