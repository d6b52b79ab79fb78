// The log to the host: SendLog delivers a line (and any queued ones first)
// to the host window by WM_COPYDATA within a bounded time; AddLog queues a
// line for GetLogEx and announces it with message 1809. A line reads the
// level character, the module's LogTitle, ". " and the text. Inside a log
// batch, a thread's lines travel together: a burst of timeouts would
// otherwise cost the host one message per line.
//
// Threads: any thread may log; the queue (Plugins/LogQueue.h) is a locked
// list, and no send to the host happens while it is held. The batch
// belongs to one thread at a time.
#include "Plugins/CrashReport.h"
#include "Plugins/vopPluginInternal.h"
#include "Plugins/vopPluginModule.h"

namespace tarvel {

using namespace plugin_detail;

// ---------------------------------------------------------------------------
// Log

std::string TvopPlugin::FormatLogLine(uint8_t level, std::string_view text, bool mark) const {
  std::string line;
  AppendLogLine(line, level, text, mark);
  return line;
}

void TvopPlugin::AppendLogLine(std::string& out, uint8_t level, std::string_view text,
                               bool mark) const {
  out.reserve(out.size() + text.size() + LogTitle.size() + 5);
  out += static_cast<char>(static_cast<uint8_t>(level + 1) | (mark ? 0x80 : 0));
  if (!LogTitle.empty()) {
    out += LogTitle;
    out += ". ";
  }
  const size_t start = out.size();
  out += text;
  for (size_t i = start; i < out.size(); ++i)
    if (out[i] == '\r' || out[i] == '\n') out[i] = ' ';
}

bool TvopPlugin::DeliverCopyData(uintptr_t kind, const std::string& text) {
  const platform::WindowHandle window = host_.Window();
  if (!window) return false;
  intptr_t ignored = 0;
  return platform::SendCopyData(window, host_.Tag(), kind, text.data(),
                                static_cast<uint32_t>(text.size()), kHostSendTimeoutMs, &ignored);
}

void TvopPlugin::SendLog(uint8_t level, std::string_view text, bool mark) {
  try {
    if (!host_.Window()) return;
    if (log_.InBatch()) {
      std::string wire;
      AppendLogLine(wire, level, text, mark);
      wire += "\r\n";
      if (log_.Append(wire, kLogBatchBytes)) FlushLogBatch();
      return;
    }
    const std::vector<std::string> batch = log_.TakeQueued();
    if (!batch.empty()) {
      std::string joined;
      for (const std::string& line : batch) joined += line + "\r\n";
      if (!DeliverCopyData(kCopyDataLogBatch, joined)) {
        // Back in front of anything queued meanwhile, oldest first.
        log_.PutBack(batch);
        AddLog(level, text, mark);
        return;
      }
    }
    if (!DeliverCopyData(kCopyDataLogLine, FormatLogLine(level, text, mark)))
      AddLog(level, text, mark);
  } catch (...) {
  }
}

void TvopPlugin::BeginLogBatch() {
  log_.Begin();
}

void TvopPlugin::EndLogBatch() noexcept {
  if (!log_.End()) return;
  FlushLogBatch();
  log_.Release();
}

void TvopPlugin::FlushLogBatch() noexcept {
  std::string batch = log_.TakeBatch();
  if (batch.empty()) return;
  try {
    // The lines queued before go first, as SendLog sends them.
    std::vector<std::string> queued = log_.TakeQueued();
    std::string joined;
    for (const std::string& line : queued) joined.append(line).append("\r\n");
    joined += batch;
    if (DeliverCopyData(kCopyDataLogBatch, joined)) return;
    // Not delivered: as SendLog does, the queued lines go back in front and
    // the new ones after whatever was queued meanwhile.
    std::vector<std::string> fresh;
    for (size_t start = 0, end; (end = batch.find("\r\n", start)) != std::string::npos;
         start = end + 2)
      fresh.emplace_back(batch, start, end - start);
    log_.Requeue(std::move(queued), std::move(fresh));
    PostToHost(PLUGIN_MSG_LOG, 0);
  } catch (...) {
  }
}

void TvopPlugin::AddLog(uint8_t level, std::string_view text, bool mark) {
  try {
    if (!host_.Window()) return;
    log_.Add(FormatLogLine(level, text, mark));
    PostToHost(PLUGIN_MSG_LOG, 0);
  } catch (...) {
  }
}

void TvopPlugin::LogExceptionReport() {
  std::string report = DescribeCurrentException();
  if (!report.empty()) AddLog(0, report);
}

}  // namespace tarvel
