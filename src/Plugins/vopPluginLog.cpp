// The log to the host: SendLog delivers a line (and any queued ones first)
// to the host window by WM_COPYDATA within a bounded time; AddLog queues a
// line for GetLogEx and announces it with message 1809. A line reads the
// level character, the module's LogTitle, ". " and the text.
//
// Threads: any thread may log; the queue is a locked list, and no send to
// the host happens while it is held.
#include "Plugins/CrashReport.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"

namespace tarvel {

using namespace plugin_detail;

namespace {

constexpr size_t kLogQueueLimit = 100;

}  // namespace

// ---------------------------------------------------------------------------
// Log

std::string TvopPlugin::FormatLogLine(uint8_t level, std::string_view text, bool mark) const {
  std::string line;
  line.reserve(text.size() + LogTitle.size() + 3);
  line += static_cast<char>(static_cast<uint8_t>(level + 1) | (mark ? 0x80 : 0));
  if (!LogTitle.empty()) {
    line += LogTitle;
    line += ". ";
  }
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  return line;
}

bool TvopPlugin::DeliverCopyData(uintptr_t kind, const std::string& text) {
  const platform::WindowHandle window = host_window_.load();
  if (!window) return false;
  intptr_t ignored = 0;
  return platform::SendCopyData(window, host_tag_.load(), kind, text.data(),
                                static_cast<uint32_t>(text.size()), kHostSendTimeoutMs, &ignored);
}

void TvopPlugin::SendLog(uint8_t level, std::string_view text, bool mark) {
  try {
    if (!host_window_.load()) return;
    std::vector<std::string> batch;
    batch.swap(*log_lines_.LockList());
    log_lines_.UnlockList();
    if (!batch.empty()) {
      std::string joined;
      for (const std::string& line : batch) joined += line + "\r\n";
      if (!DeliverCopyData(kCopyDataLogBatch, joined)) {
        // Back in front of anything queued meanwhile, oldest first.
        std::vector<std::string>* lines = log_lines_.LockList();
        lines->insert(lines->begin(), batch.begin(), batch.end());
        log_lines_.UnlockList();
        AddLog(level, text, mark);
        return;
      }
    }
    if (!DeliverCopyData(kCopyDataLogLine, FormatLogLine(level, text, mark)))
      AddLog(level, text, mark);
  } catch (...) {
  }
}

void TvopPlugin::AddLog(uint8_t level, std::string_view text, bool mark) {
  try {
    if (!host_window_.load()) return;
    std::string line = FormatLogLine(level, text, mark);
    std::vector<std::string>* lines = log_lines_.LockList();
    try {
      lines->push_back(std::move(line));
      if (lines->size() > kLogQueueLimit)
        lines->erase(lines->begin(),
                     lines->begin() + static_cast<long>(lines->size() - kLogQueueLimit));
    } catch (...) {
      log_lines_.UnlockList();
      throw;
    }
    log_lines_.UnlockList();
    PostToHost(PLUGIN_MSG_LOG, 0);
  } catch (...) {
  }
}

void TvopPlugin::LogExceptionReport() {
  std::string report = DescribeCurrentException();
  if (!report.empty()) AddLog(0, report);
}

}  // namespace tarvel
