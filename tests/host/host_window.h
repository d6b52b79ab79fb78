// A host window for tests: a message window that records what the module
// sends it (posted notifications and WM_COPYDATA log lines).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"

namespace tarvel::test {

class RecordingWindow {
 public:
  struct Message {
    uint32_t msg;
    uintptr_t wparam;
    uintptr_t copydata_kind;  // dwData for WM_COPYDATA
    std::string text;         // bytes for WM_COPYDATA
  };

  // Created on the calling thread, which must pump it (Pump()).
  RecordingWindow() {
    handle_ = platform::CreateMessageWindow([this](platform::WindowHandle, uint32_t msg,
                                                   uintptr_t wparam, intptr_t lparam) -> intptr_t {
      Message m{msg, wparam, 0, {}};
      if (msg == platform::kWmCopyData) {
        auto* cd = reinterpret_cast<const platform::CopyData*>(lparam);
        m.copydata_kind = cd->dwData;
        m.text.assign(static_cast<const char*>(cd->lpData), cd->cbData);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(m));
      return 1;
    });
  }
  ~RecordingWindow() { platform::DestroyMessageWindow(handle_); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  platform::WindowHandle handle() const { return handle_; }
  int32_t HandleParam() const { return static_cast<int32_t>(handle_); }
  void Pump() { platform::ProcessPendingMessages(); }
  std::vector<Message> Take() {
    Pump();
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Message> out;
    out.swap(messages_);
    return out;
  }
  // LogLines: the log lines received by WM_COPYDATA since the last Take,
  // whether one alone (dwData 2) or several in a batch (dwData 1, each
  // followed by CR LF); each still starts with its level byte.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    for (const Message& m : Take()) {
      if (m.msg != platform::kWmCopyData) continue;
      if (m.copydata_kind != 1) {
        lines.push_back(m.text);
        continue;
      }
      for (size_t start = 0, end; (end = m.text.find("\r\n", start)) != std::string::npos;
           start = end + 2)
        lines.push_back(m.text.substr(start, end - start));
    }
    return lines;
  }

 private:
  platform::WindowHandle handle_ = 0;
  std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace tarvel::test
