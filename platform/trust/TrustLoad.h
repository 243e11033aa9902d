#pragma once
// Bringing foreign code into the process only when its file is trusted.
#include <windows.h>
#include <objbase.h>

// LoadLibraryExW of a trusted file; else null with last error 5 (not
// trusted) or 87 (no path), and the file is not mapped.
HMODULE TrustLoadLibraryExW(const wchar_t* path, DWORD flags);

// CoCreateInstance, but with `verify` set only through a class object that
// offers the private trusted factory and lives in a trusted module.
HRESULT TrustCoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** out,
                              BOOL verify);

// TrustVerifyFile on the module that holds `address`; 87 when none does.
DWORD TrustVerifyModuleOfAddress(const void* address);
// The file of the module holding `address` into `path` (260 characters).
DWORD TrustGetModulePathOfAddress(const void* address, wchar_t* path);
// The first entry of a COM object's function table, or null.
const void* TrustGetObjectCodeAddress(IUnknown* object);
