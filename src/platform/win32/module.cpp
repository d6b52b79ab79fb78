#include "platform/module.h"

#include <windows.h>

#include <vector>

namespace tarvel::platform {
namespace {
thread_local std::string t_load_error;

HMODULE OwnHandle() {
  HMODULE h = nullptr;
  ::GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&OwnHandle), &h);
  return h;
}
}  // namespace

std::string OwnModulePath() {
  char buf[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameA(OwnHandle(), buf, sizeof buf);
  return std::string(buf, n);
}

std::string MainProgramPath() {
  char buf[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n);
}

VersionNumbers OwnModuleVersion() {
  std::string path = OwnModulePath();
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (!size) return {};
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &len) || !info)
    return {};
  return {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
          HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

ModuleHandle LoadModule(const std::string& path) {
  HMODULE h = ::LoadLibraryA(path.c_str());
  if (!h) t_load_error = "LoadLibrary failed with error " + std::to_string(::GetLastError());
  return reinterpret_cast<ModuleHandle>(h);
}

void UnloadModule(ModuleHandle module) {
  if (module) ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

void* ModuleProcedure(ModuleHandle module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

ModuleHandle LoadedModuleHandle(const std::string& name) {
  return reinterpret_cast<ModuleHandle>(::GetModuleHandleA(name.empty() ? nullptr : name.c_str()));
}

std::string LastLoadError() {
  return t_load_error;
}

}  // namespace tarvel::platform

namespace tarvel::platform {
IconHandle LoadIconResource(ModuleHandle module, const char* name) {
  if (!module) return 0;
  return reinterpret_cast<IconHandle>(::LoadIconA(reinterpret_cast<HMODULE>(module), name));
}
void DestroyIconHandle(IconHandle icon) {
  if (icon) ::DestroyIcon(reinterpret_cast<HICON>(icon));
}
}  // namespace tarvel::platform
