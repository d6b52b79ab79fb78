// LogQueue: an instance's log lines on their way to the host. Lines that
// could not be sent wait in the queued lines (the host fetches them with
// GetLogEx), at most kLimit of them, the oldest given up first. A log batch
// gathers one thread's lines, in the wire form (each line followed by
// CR LF), to go to the host as one message.
//
//  - Add, Requeue, PutBack: lines join the queue at its end, or go back in
//    front of what was queued meanwhile, oldest first.
//  - TakeQueued: empties the queue for a send.
//  - Begin, End, Append, TakeBatch: the batch of the calling thread.
//
// Threads: any thread may queue and take lines; the queued lines are a
// locked list, held only through its handle, and never while a line is
// sent to the host (the owner sends). The batch belongs to one thread at a
// time: its depth and lines are touched by that thread only, the owning
// thread is atomic.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Common/ThreadLists.h"

namespace tarvel {

class LogQueue {
 public:
  static constexpr size_t kLimit = 100;

  LogQueue() = default;
  LogQueue(const LogQueue&) = delete;
  LogQueue& operator=(const LogQueue&) = delete;

  // Lines: the queued lines, for the host's GetLogEx and for checks.
  TThreadStringList& Lines() { return lines_; }

  // Add appends a line, keeping the last kLimit.
  void Add(std::string line);
  // Requeue puts front before the queued lines and back after them,
  // keeping the last kLimit.
  void Requeue(std::vector<std::string> front, std::vector<std::string> back);
  // PutBack puts lines before the queued ones, as they are (the next Add
  // keeps the limit).
  void PutBack(const std::vector<std::string>& front);
  // TakeQueued empties the queue and returns what it held.
  std::vector<std::string> TakeQueued();

  // Begin starts or nests the calling thread's batch; nothing when another
  // thread's batch runs.
  void Begin();
  // InBatch: the calling thread's batch runs.
  bool InBatch() const;
  // End closes one level of the calling thread's batch; true when it was
  // the last one, and the caller is to send what TakeBatch gives before
  // Release lets another thread begin one.
  bool End();
  void Release();
  // Append adds a line in wire form to the calling thread's batch; true
  // when the batch has reached kBatchBytes.
  bool Append(std::string_view wire_line, size_t batch_bytes);
  // TakeBatch empties the batch and returns its wire text.
  std::string TakeBatch();

 private:
  TThreadStringList lines_;
  std::atomic<uint32_t> batch_thread_{0};  // 0: no batch
  // Touched by the batch's thread only.
  int batch_depth_ = 0;
  std::string batch_;
};

}  // namespace tarvel
