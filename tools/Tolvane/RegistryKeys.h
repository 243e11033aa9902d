#pragma once

// Machine-hive keys the registrar reads.
constexpr wchar_t kComponentKey[] = L"Software\\Corvane\\Sentrel";
constexpr wchar_t kInstallerKey[] = L"Software\\Corvane\\CvInst\\InstallSettings";
constexpr wchar_t kInstallDirValue[] = L"Install Dir";
constexpr wchar_t kRegistryFileName[] = L"appregistry.dat";
