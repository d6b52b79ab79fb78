// Settings persistence figures: reading and writing a large INI file
// (10 MB, 100 000 keys in 1 000 sections), looking keys up in it, and a full
// settings load and save through the module's property map, to an INI file
// and to the registry (the file-backed store on POSIX). Throughput is
// reported in MB/s (10^6 bytes of wall-clock time), operations in
// microseconds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "monitor/ProxyCodeObject.h"
#include "settings/BigIni.h"
#include "settings/TWregistry.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvel;

constexpr int kSections = 1000, kKeysPerSection = 100;

const char* const kModuleMap =
    "Left,Left\r\nTop,Top\r\nHeight,Height\r\nWidth,Width\r\n;---short---\r\n"
    "var1.Text,Var1\r\nvar2.Text,Var2\r\nvar3.Text,Var3\r\nvar4.Text,Var4\r\n"
    "type1.ItemIndex,Type1\r\ntype2.ItemIndex,Type2\r\ntype3.ItemIndex,Type3\r\n"
    "type4.ItemIndex,Type4\r\n"
    "val1.Value,Val1\r\nval2.Value,Val2\r\nval3.Value,Val3\r\nval4.Value,Val4\r\n"
    "event1.Text,Event1\r\nevent2.Text,Event2\r\nevent3.Text,Event3\r\nevent4.Text,Event4\r\n"
    "\r\nchkWaitData.Checked,Wait data\r\nchkEvOnce.Checked,Event once\r\n"
    "chkCheckClient.Checked,Check client\r\nedtClientVar.Text,Client variable\r\n"
    "edtEventResume.Text,Resume event suffix\r\nchkEventResume.Checked,Resume event\r\n";

// Workspace: a private directory for the files, the registry and the locks.
struct Workspace {
  fs::path dir;
  std::string big_ini;
  size_t big_size = 0;
  Workspace() {
    dir = fs::temp_directory_path() / ("tarvel-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    setenv("TARVEL_REGISTRY_DIR", (dir / "registry").c_str(), 1);
    setenv("TARVEL_LOCK_DIR", (dir / "locks").c_str(), 1);
    big_ini = (dir / "big.ini").string();
    std::ofstream out(big_ini, std::ios::binary);
    const std::string value(78, 'v');
    for (int s = 0; s < kSections; ++s) {
      out << "[Section" << s << "]\r\n";
      for (int k = 0; k < kKeysPerSection; ++k) out << "Key" << k << "=" << value << "\r\n";
      out << "\r\n";
    }
    out.close();
    big_size = fs::file_size(big_ini);
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Workspace& Space() {
  static Workspace w;
  return w;
}

void SetRate(benchmark::State& state, size_t bytes) {
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

void BM_IniRead10MB(benchmark::State& state) {
  Workspace& w = Space();
  for (auto _ : state) {
    TBigIniFile ini(w.big_ini);
    benchmark::DoNotOptimize(ini.Sections().Count());
  }
  state.counters["keys"] = kSections * kKeysPerSection;
  SetRate(state, w.big_size);
}
BENCHMARK(BM_IniRead10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IniWrite10MB(benchmark::State& state) {
  Workspace& w = Space();
  TBigIniFile ini(w.big_ini);
  std::string copy = (w.dir / "copy.ini").string();
  ini.OpenIniFile(copy);  // empty target; fill it from the big file's text
  std::ifstream in(w.big_ini, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ini.LoadFromString(text);
  int n = 0;
  for (auto _ : state) {
    ini.WriteString("Section500", "Key50", std::to_string(n++));
    ini.UpdateFile();
  }
  SetRate(state, w.big_size);
}
BENCHMARK(BM_IniWrite10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IniLookupEveryKey(benchmark::State& state) {
  Workspace& w = Space();
  TBigIniFile ini(w.big_ini);
  std::vector<std::pair<std::string, std::string>> keys;
  for (int s = 0; s < kSections; ++s)
    for (int k = 0; k < kKeysPerSection; ++k)
      keys.emplace_back("Section" + std::to_string(s), "Key" + std::to_string(k));
  for (auto _ : state) {
    for (const auto& [section, key] : keys)
      benchmark::DoNotOptimize(ini.ReadString(section, key, ""));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_IniLookupEveryKey)->Unit(benchmark::kMillisecond)->UseRealTime();

std::unique_ptr<TWreg> Engine(bool ini) {
  auto reg = std::make_unique<TWreg>();
  reg->RegistryRoot = rrHKEY_CURRENT_USER;
  reg->RegistryPath = "\\Software\\TarvelBench";
  if (ini) reg->INIFile = (Space().dir / "settings.ini").string();
  reg->Components.SetText(kModuleMap);
  return reg;
}

void FillSettings(TProxyCodeObject& s) {
  s.var1_Text = "Temperature";
  s.type1_ItemIndex = 1;
  s.val1_Value = 30;
  s.event1_Text = "TEMP-TIMEOUT";
  s.var2_Text = "Pressure 100%";
  s.type2_ItemIndex = 2;
  s.val2_Value = 1.5;
  s.event2_Text = "PRESSURE-TIMEOUT";
}

void BM_SettingsSave(benchmark::State& state) {
  bool ini = state.range(0) != 0;
  TProxyCodeObject s;
  FillSettings(s);
  int n = 0;
  for (auto _ : state) {
    s.Left = n++;  // one changed value per save, as a moved dialog gives
    benchmark::DoNotOptimize(Engine(ini)->SaveProperties(&s));
  }
  state.SetLabel(ini ? "INI file" : "registry");
}
BENCHMARK(BM_SettingsSave)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_SettingsLoad(benchmark::State& state) {
  bool ini = state.range(0) != 0;
  TProxyCodeObject s;
  FillSettings(s);
  Engine(ini)->SaveProperties(&s);
  for (auto _ : state) {
    TProxyCodeObject loaded;
    benchmark::DoNotOptimize(Engine(ini)->LoadProperties(&loaded));
  }
  state.SetLabel(ini ? "INI file" : "registry");
}
BENCHMARK(BM_SettingsLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
