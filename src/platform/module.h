// Module information and dynamic loading: the path and version of the
// module this code is linked into (tarvel.dll / libtarvel.so, or the test
// program for code linked statically), and loading other modules by path.
#pragma once

#include <cstdint>
#include <string>

namespace tarvel::platform {

struct VersionNumbers {
  uint16_t major = 0, minor = 0, release = 0, build = 0;
};

// OwnModulePath returns the full path of the module containing this code.
std::string OwnModulePath();

// MainProgramPath returns the full path of the running program (the
// host's executable).
std::string MainProgramPath();

// OwnModuleVersion reads the version of the module containing this code:
// its VERSIONINFO resource on Windows (zeros when it has none), the
// compiled-in numbers on POSIX.
VersionNumbers OwnModuleVersion();

// Dynamic loading. Handles are opaque; 0 means failure.
using ModuleHandle = uintptr_t;
ModuleHandle LoadModule(const std::string& path);
void UnloadModule(ModuleHandle module);
void* ModuleProcedure(ModuleHandle module, const char* name);
// LoadedModuleHandle returns the handle of an already loaded module by file
// name (GetModuleHandleA), 0 when it is not loaded; an empty name means the
// main program.
ModuleHandle LoadedModuleHandle(const std::string& name);
// LastLoadError describes why the last LoadModule on this thread failed.
std::string LastLoadError();

}  // namespace tarvel::platform

namespace tarvel::platform {

// Icons: LoadIconResource loads a named icon resource of a module
// (LoadIconA); 0 when there is none. POSIX has no icons: always 0.
using IconHandle = uintptr_t;
IconHandle LoadIconResource(ModuleHandle module, const char* name);
void DestroyIconHandle(IconHandle icon);

}  // namespace tarvel::platform
