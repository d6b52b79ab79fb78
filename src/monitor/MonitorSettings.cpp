#include "monitor/MonitorSettings.h"

#include <cmath>

#include "monitor/ProxyCodeObject.h"

namespace tarvel {

namespace {

// CopyOptions copies all but the rows.
void CopyOptions(const TProxyCodeObject& cfg, MonitorSettings& s) {
  s.wait_data = cfg.chkWaitData_Checked;
  s.event_once = cfg.chkEvOnce_Checked;
  s.check_client = cfg.chkCheckClient_Checked;
  s.event_resume = cfg.chkEventResume_Checked;
  s.client_var = cfg.edtClientVar_Text;
  s.resume_suffix = cfg.edtEventResume_Text;
}

}  // namespace

MonitorSettings::MonitorSettings() {
  // Made anew each time: settings are made seldom, and nothing stays
  // behind when the host unloads the module.
  CopyOptions(TProxyCodeObject(), *this);
}

int64_t RowTimeoutMs(int32_t unit_index, double value) {
  // Milliseconds per unit, by unit index.
  static constexpr int64_t kFactors[4] = {1, 1000, 60000, 3600000};
  if (static_cast<uint32_t>(unit_index) >= 4) return 0;
  // Written so that NaN also fails the test.
  if (!(value >= 1.0)) return 0;
  const int64_t factor = kFactors[unit_index];
  const double whole = std::trunc(value);
  const double max_whole = static_cast<double>(kMaxTimeoutMs / factor);
  if (whole >= max_whole) return kMaxTimeoutMs;
  return static_cast<int64_t>(whole) * factor;
}

std::shared_ptr<const MonitorSettings> MakeMonitorSettings(const TProxyCodeObject& cfg) {
  auto s = std::make_shared<MonitorSettings>();
  for (int row = 0; row < TProxyCodeObject::kRows; ++row) {
    std::optional<TProxyCodeObject::WatchRow> w = cfg.WatchRowAt(row);
    if (!w) continue;
    // The settings object keeps timeouts in 32 bits; the monitor counts in
    // 64, so a long timeout is not cut to 24.8 days here.
    int64_t timeout = RowTimeoutMs(cfg.TypeItemIndex(row), cfg.ValValue(row));
    if (timeout <= 0) continue;
    s->rows.push_back({std::move(w->key), timeout, std::move(w->event)});
  }
  CopyOptions(cfg, *s);
  return s;
}

}  // namespace tarvel
