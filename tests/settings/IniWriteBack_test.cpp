// The INI write-back when the file system says no: a full disk, a
// write-protected file, a folder that takes no new file. Each fault is made
// for real where this machine can (a small disk, permissions with the
// superuser's override given up), and by FileFaults in front of the
// system's file calls everywhere; the module's own code runs unchanged.
//
// What must hold: the save reports what a failed write-back reports (true:
// it is ignored), nothing stored is lost (the file keeps its old content,
// no temporary file stays), no crash, and once the service is back the
// next save writes. A file that can be written in a folder that takes no
// new file is written in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "monitor/DataSourceCfg.h"
#include "monitor/ProxyCodeObject.h"
#include "settings/BigIni.h"
#include "settings/TWregistry.h"
#include "settings_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace tarvel {
namespace {

namespace fs = std::filesystem;

enum class Fault { kReadOnlyFolder, kReadOnlyFile, kDiskFull, kReadOnlyFolderOnAFullDisk };
enum class Means { kReal, kInjected };

bool FillsDisk(Fault f) {
  return f == Fault::kDiskFull || f == Fault::kReadOnlyFolderOnAFullDisk;
}
bool ProtectsFolder(Fault f) {
  return f == Fault::kReadOnlyFolder || f == Fault::kReadOnlyFolderOnAFullDisk;
}

#ifndef _WIN32
// WithoutOverride: while it lives, the calling thread is held to file
// permissions even when it runs as the superuser (its effective
// capabilities lose CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH).
class WithoutOverride {
 public:
  WithoutOverride() {
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    ok_ = ::syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutOverride() {
    if (ok_) ::syscall(SYS_capset, &header_, saved_);
  }
  WithoutOverride(const WithoutOverride&) = delete;
  WithoutOverride& operator=(const WithoutOverride&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool ok_ = false;
};
#endif

// Scene: the folder the INI file lives in, and the fault made there.
// Skip() says why this machine cannot make the fault by these means.
class Scene {
 public:
  Scene(Means means, Fault fault, const test::TempDir& dir) : means_(means), fault_(fault) {
    folder_ = dir.File("place");
    fs::create_directory(folder_);
    if (means_ == Means::kReal) PrepareReal(dir);
  }
  ~Scene() {
    Mend();
#ifndef _WIN32
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
#endif
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  const std::string& Skip() const {
    return skip_;
  }
  std::string File() const {
    return (fs::path(folder_) / "settings.ini").string();
  }

  // Break makes the fault happen to the INI file at path.
  void Break(const std::string& path) {
    path_ = path;
    broken_ = true;
    if (means_ == Means::kInjected) {
      platform::FileFaults faults;
      if (ProtectsFolder(fault_)) faults.read_only_folders.push_back(folder_);
      if (fault_ == Fault::kReadOnlyFile) faults.read_only_files.push_back(path);
      if (FillsDisk(fault_)) faults.free_bytes = 0;
      platform::SetFileFaults(faults);
      return;
    }
    BreakReal();
  }

  // Mend brings the service back.
  void Mend() {
    if (!broken_) return;
    broken_ = false;
    if (means_ == Means::kInjected) {
      platform::ClearFileFaults();
      return;
    }
    MendReal();
  }

 private:
#ifdef _WIN32
  void PrepareReal(const test::TempDir&) {
    if (FillsDisk(fault_))
      skip_ = "a Windows program here cannot make a small disk to fill";
    else if (ProtectsFolder(fault_))
      skip_ = "a folder's read-only attribute does not keep new files out on Windows";
  }
  void BreakReal() {
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE h = ::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      skip_ = "this system lets the program write a read-only file (Wine run by the superuser)";
    }
  }
  void MendReal() {
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
#else
  void PrepareReal(const test::TempDir&) {
    if (!FillsDisk(fault_)) return;
    // A small disk of its own, in a mount namespace of this thread, so
    // nothing is left mounted should the test die.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tarvel-small-disk", folder_.c_str(), "tmpfs", 0, "size=256k") != 0) {
      skip_ = "mounting a small disk needs the superuser's rights (CAP_SYS_ADMIN)";
      return;
    }
    mounted_ = true;
  }
  void BreakReal() {
    if (FillsDisk(fault_)) {
      // Fill the disk to its last byte.
      int fd = ::open((fs::path(folder_) / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
      std::string chunk(65536, 'f');
      for (size_t size = chunk.size(); fd >= 0 && size > 0;) {
        if (::write(fd, chunk.data(), size) < 0) size /= 2;
      }
      if (fd >= 0) ::close(fd);
    }
    if (ProtectsFolder(fault_)) ::chmod(folder_.c_str(), 0555);
    if (fault_ == Fault::kReadOnlyFile) ::chmod(path_.c_str(), 0444);
    if (ProtectsFolder(fault_) || fault_ == Fault::kReadOnlyFile) {
      override_ = std::make_unique<WithoutOverride>();
      const std::string probe = (fs::path(folder_) / "probe").string();
      const bool held = ProtectsFolder(fault_) ? ::open(probe.c_str(), O_WRONLY | O_CREAT, 0600) < 0
                                               : ::open(path_.c_str(), O_WRONLY) < 0;
      if (!held) skip_ = "this process cannot give up the superuser's override of permissions";
    }
  }
  void MendReal() {
    override_.reset();
    ::chmod(folder_.c_str(), 0755);
    ::chmod(path_.c_str(), 0644);
    ::unlink((fs::path(folder_) / "probe").c_str());
    ::unlink((fs::path(folder_) / "filler").c_str());
  }
  std::unique_ptr<WithoutOverride> override_;
  bool mounted_ = false;
#endif

  Means means_;
  Fault fault_;
  std::string folder_, path_, skip_;
  bool broken_ = false;
};

struct FaultCase {
  const char* name;
  Fault fault;
  Means means;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class FailingWriteBack : public ::testing::TestWithParam<FaultCase> {
 protected:
  bool Save(TProxyCodeObject& s) { return Engine()->SaveProperties(&s); }
  // LoadedVar1: row 1's variable as a load finds it.
  std::string LoadedVar1() {
    TProxyCodeObject s;
    EXPECT_TRUE(Engine()->LoadProperties(&s));
    return s.var1_Text;
  }
  std::unique_ptr<TWreg> Engine() {
    auto reg = std::make_unique<TWreg>();
    reg->INIFile = ini_;
    reg->Components.SetText(kTaPluginProperties);
    return reg;
  }

  test::RegistrySandbox sandbox_;  // a private lock directory
  std::string ini_;
};

// A file of one full page, so that whatever the module adds needs new
// space on the disk.
std::string OnePageFile() {
#ifdef _WIN32
  const size_t page = 4096;
#else
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
#endif
  std::string text = "[Common]\r\nVar1=Temp\r\n; ";
  text.append(page - text.size() - 2, '-');
  return text + "\r\n";
}

TEST_P(FailingWriteBack, TheSaveReportsAsTheFailedWriteBackDoesAndLosesNothing) {
  const FaultCase& c = GetParam();
  Scene scene(c.means, c.fault, sandbox_.Dir());
  if (!scene.Skip().empty()) GTEST_SKIP() << scene.Skip();
  ini_ = scene.File();
  const std::string before = OnePageFile();
  test::WriteWholeFile(ini_, before);

  scene.Break(ini_);
  if (!scene.Skip().empty()) GTEST_SKIP() << scene.Skip();
  TProxyCodeObject changed;
  changed.var1_Text = "Pressure";
  const bool saved = Save(changed);
  const std::string during = LoadedVar1();  // the lock was let go; the file reads
  const std::string bytes = test::ReadWholeFile(ini_);
  const bool tmp_left = fs::exists(ini_ + ".tarvel-tmp");
  scene.Mend();

  EXPECT_TRUE(saved) << "a write-back that fails is ignored: the operation reports true";
  EXPECT_FALSE(tmp_left);
  if (c.fault == Fault::kReadOnlyFolder) {
    // The file itself can be written: the settings go there in place.
    EXPECT_EQ(during, "Pressure");
    EXPECT_NE(bytes, before);
  } else {
    EXPECT_EQ(bytes, before) << "the file keeps its old content";
    EXPECT_EQ(during, "Temp");
  }

  // The service is back: the next save writes.
  changed.var1_Text = "Level";
  ASSERT_TRUE(Save(changed));
  EXPECT_EQ(LoadedVar1(), "Level");
  EXPECT_FALSE(fs::exists(ini_ + ".tarvel-tmp"));
}

// The faults that keep a new file out (a missing file cannot be protected).
class FailingFirstWrite : public FailingWriteBack {};

TEST_P(FailingFirstWrite, AFileThatCannotBeMadeStaysMissingUntilItCan) {
  const FaultCase& c = GetParam();
  Scene scene(c.means, c.fault, sandbox_.Dir());
  if (!scene.Skip().empty()) GTEST_SKIP() << scene.Skip();
  ini_ = scene.File();
  scene.Break(ini_);
  if (!scene.Skip().empty()) GTEST_SKIP() << scene.Skip();
  TProxyCodeObject s;
  s.var1_Text = "Pressure";
  const bool saved = Save(s);
  const bool made = fs::exists(ini_);
  const bool tmp_left = fs::exists(ini_ + ".tarvel-tmp");
  scene.Mend();
  EXPECT_TRUE(saved);
  EXPECT_FALSE(made);
  EXPECT_FALSE(tmp_left);
  ASSERT_TRUE(Save(s));
  EXPECT_EQ(LoadedVar1(), "Pressure");
}

const FaultCase kFaults[] = {
    {"ReadOnlyFolderReal", Fault::kReadOnlyFolder, Means::kReal},
    {"ReadOnlyFolderInjected", Fault::kReadOnlyFolder, Means::kInjected},
    {"ReadOnlyFileReal", Fault::kReadOnlyFile, Means::kReal},
    {"ReadOnlyFileInjected", Fault::kReadOnlyFile, Means::kInjected},
    {"DiskFullReal", Fault::kDiskFull, Means::kReal},
    {"DiskFullInjected", Fault::kDiskFull, Means::kInjected},
    {"ReadOnlyFolderOnAFullDiskReal", Fault::kReadOnlyFolderOnAFullDisk, Means::kReal},
    {"ReadOnlyFolderOnAFullDiskInjected", Fault::kReadOnlyFolderOnAFullDisk, Means::kInjected},
};

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Services, FailingWriteBack, ::testing::ValuesIn(kFaults), CaseName);

std::vector<FaultCase> FaultsOnNewFiles() {
  std::vector<FaultCase> cases;
  for (const FaultCase& c : kFaults)
    if (c.fault != Fault::kReadOnlyFile) cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Services, FailingFirstWrite, ::testing::ValuesIn(FaultsOnNewFiles()),
                         CaseName);

TEST(IniWriteBack, UpdateFileRaisesKeepsTheChangeAndWritesOnceTheDiskHasRoom) {
  test::TempDir dir;
  const std::string path = dir.File("engine.ini");
  test::WriteWholeFile(path, "[S]\r\nk=old\r\n");
  TBigIniFile ini(path);
  ini.WriteString("S", "k", "new and longer");
  platform::FileFaults full;
  full.free_bytes = 0;
  platform::SetFileFaults(full);
  EXPECT_THROW(ini.UpdateFile(), platform::EFileError);
  platform::ClearFileFaults();
  EXPECT_TRUE(ini.Modified());
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=old\r\n");
  ini.UpdateFile();
  EXPECT_FALSE(ini.Modified());
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=new and longer\r\n");
}

TEST(IniWriteBack, HardLinksStayLinked) {
  test::TempDir dir;
  const std::string path = dir.File("settings.ini"), other = dir.File("other-name.ini");
  test::WriteWholeFile(path, "[S]\r\nk=old\r\n");
  std::error_code ec;
  fs::create_hard_link(path, other, ec);
  if (ec) GTEST_SKIP() << "this file system has no hard links: " << ec.message();
  {
    TBigIniFile ini(path);
    ini.WriteString("S", "k", "new");
  }
  EXPECT_EQ(test::ReadWholeFile(other), "[S]\r\nk=new\r\n");
  // Still one file: a change through the other name shows under the first.
  {
    TBigIniFile ini(other);
    ini.WriteString("S", "k", "newer");
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=newer\r\n");
}

#ifdef _WIN32
TEST(IniWriteBack, TheReplaceKeepsTheFilesAttributes) {
  test::TempDir dir;
  const std::string path = dir.File("settings.ini");
  test::WriteWholeFile(path, "[S]\r\nk=old\r\n");
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  {
    TBigIniFile ini(path);
    ini.WriteString("S", "k", "new");
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=new\r\n");
  EXPECT_TRUE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#else
TEST(IniWriteBack, TheReplaceKeepsModeAndOwner) {
  test::TempDir dir;
  const std::string path = dir.File("settings.ini");
  test::WriteWholeFile(path, "[S]\r\nk=old\r\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  // The superuser can hand the file to someone else; the rewrite keeps that.
  const bool other_owner = ::geteuid() == 0 && ::chown(path.c_str(), 4321, 4322) == 0;
  {
    TBigIniFile ini(path);
    ini.WriteString("S", "k", "new");
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[S]\r\nk=new\r\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (other_owner) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
}

TEST(IniWriteBack, ASymbolicLinkStaysALink) {
  test::TempDir dir;
  const std::string real = dir.File("real.ini"), link = dir.File("link.ini");
  test::WriteWholeFile(real, "[S]\r\nk=old\r\n");
  fs::create_symlink("real.ini", link);
  {
    TBigIniFile ini(link);
    ini.WriteString("S", "k", "new");
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(test::ReadWholeFile(real), "[S]\r\nk=new\r\n");
}
#endif

}  // namespace
}  // namespace tarvel
