#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>

namespace tarvel::platform {
namespace {
thread_local std::string t_load_error;
void Anchor() {}
}  // namespace

std::string OwnModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Anchor), &info) && info.dli_fname) return info.dli_fname;
  return {};
}

std::string MainProgramPath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

VersionNumbers OwnModuleVersion() {
  return {TARVEL_VERSION_MAJOR, TARVEL_VERSION_MINOR, TARVEL_VERSION_PATCH, TARVEL_VERSION_BUILD};
}

ModuleHandle LoadModule(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* err = dlerror();
    t_load_error = err ? err : "unknown error";
  }
  return reinterpret_cast<ModuleHandle>(h);
}

void UnloadModule(ModuleHandle module) {
  if (module) dlclose(reinterpret_cast<void*>(module));
}

// IsLoadedModule: the handle is one the loader gave out for a module that
// is loaded now (in glibc a handle is the module's link map). A number
// the host passed as a module handle is checked before dlsym follows it,
// as GetProcAddress refuses a handle that names no module.
bool IsLoadedModule(ModuleHandle module) {
  void* main_program = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
  link_map* map = nullptr;
  if (!main_program || dlinfo(main_program, RTLD_DI_LINKMAP, &map) != 0) return false;
  for (; map; map = map->l_next)
    if (reinterpret_cast<ModuleHandle>(map) == module) return true;
  return false;
}

void* ModuleProcedure(ModuleHandle module, const char* name) {
  return module && IsLoadedModule(module) ? dlsym(reinterpret_cast<void*>(module), name) : nullptr;
}

ModuleHandle LoadedModuleHandle(const std::string& name) {
  if (name.empty()) return reinterpret_cast<ModuleHandle>(dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD));
  void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);  // NOLOAD took a reference; the module stays loaded by its owner
  return reinterpret_cast<ModuleHandle>(h);
}

std::string LastLoadError() {
  return t_load_error;
}

}  // namespace tarvel::platform

namespace tarvel::platform {
IconHandle LoadIconResource(ModuleHandle, const char*) {
  return 0;
}
void DestroyIconHandle(IconHandle) {}
}  // namespace tarvel::platform
