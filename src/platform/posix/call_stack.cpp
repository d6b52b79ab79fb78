// Call stacks on POSIX: the unwinder's own walk (every module of the
// process has unwind tables), dladdr for the module of an address, and the
// names table read from the module's file, where the build left it in a
// section that is not loaded.
#include "platform/call_stack.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unwind.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "platform/module.h"

namespace tarvel::platform {
namespace {

void Anchor() {}

struct Walk {
  FrameVisitor visit;
  void* context;
};

_Unwind_Reason_Code VisitContext(_Unwind_Context* context, void* argument) {
  auto& walk = *static_cast<Walk*>(argument);
  int before_instruction = 0;
  const uintptr_t ip = _Unwind_GetIPInfo(context, &before_instruction);
  if (ip == 0) return _URC_END_OF_STACK;
  StackFrame frame;
  // A return address points after the call; the frame runs the call.
  frame.pc = before_instruction ? ip : ip - 1;
  frame.function = _Unwind_GetRegionStart(context);
  frame.lsda = reinterpret_cast<const unsigned char*>(_Unwind_GetLanguageSpecificData(context));
  frame.sp = _Unwind_GetCFA(context);
  return walk.visit(frame, walk.context) ? _URC_NO_REASON : _URC_END_OF_STACK;
}

std::string FileName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// SectionOfFile reads a section of an ELF file of this machine's class;
// empty when the file or the section is not there.
std::string SectionOfFile(const std::string& path, const char* wanted) {
  using Ehdr = ElfW(Ehdr);
  using Shdr = ElfW(Shdr);
  std::ifstream in(path, std::ios::binary);
  Ehdr header{};
  if (!in.read(reinterpret_cast<char*>(&header), sizeof header) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_shentsize != sizeof(Shdr) ||
      header.e_shstrndx >= header.e_shnum)
    return {};
  std::vector<Shdr> sections(header.e_shnum);
  in.seekg(static_cast<std::streamoff>(header.e_shoff));
  if (!in.read(reinterpret_cast<char*>(sections.data()),
               static_cast<std::streamsize>(sections.size() * sizeof(Shdr))))
    return {};
  auto read = [&](const Shdr& s) {
    std::string bytes(s.sh_size, '\0');
    in.seekg(static_cast<std::streamoff>(s.sh_offset));
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) bytes.clear();
    return bytes;
  };
  const std::string names = read(sections[header.e_shstrndx]);
  for (const Shdr& s : sections) {
    if (s.sh_name >= names.size() || std::strcmp(names.c_str() + s.sh_name, wanted) != 0) continue;
    return s.sh_type == SHT_NOBITS ? std::string() : read(s);
  }
  return {};
}

}  // namespace

void WalkStack(FrameVisitor visit, void* context) {
  Walk walk{visit, context};
  _Unwind_Backtrace(&VisitContext, &walk);
}

CodeLocation LocateCode(uintptr_t address) {
  CodeLocation location;
  location.offset = address;
  Dl_info info{}, own{};
  if (!dladdr(reinterpret_cast<void*>(address), &info) || !info.dli_fbase) return location;
  location.module = info.dli_fname ? FileName(info.dli_fname) : std::string();
  location.offset = address - reinterpret_cast<uintptr_t>(info.dli_fbase);
  location.own = dladdr(reinterpret_cast<void*>(&Anchor), &own) && own.dli_fbase == info.dli_fbase;
  return location;
}

std::string_view OwnSymbolTable() {
  static const std::string table = [] {
    try {
      return SectionOfFile(OwnModulePath(), ".tarvel_symbols");
    } catch (...) {
      return std::string();
    }
  }();
  return table;
}

}  // namespace tarvel::platform
