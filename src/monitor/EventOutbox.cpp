#include "monitor/EventOutbox.h"

#include <string_view>
#include <utility>

namespace tarvel {

namespace {

constexpr std::string_view kClientIdItem = "CLIENTID-ITEM";
constexpr std::string_view kParserItem = "PARSER-ITEM";
constexpr uint8_t kLevelWarning = 1;
constexpr uint8_t kLevelNotice = 2;

std::string Joined(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + 2 + b.size());
  s.append(a).append(": ").append(b);
  return s;
}

}  // namespace

// Writer turns notices into sink calls, keeping what repeats: per settings
// row the variable's value and the line after its event, per client its
// timeout line and its ID.
class EventOutbox::Writer {
 public:
  Writer(MonitorSink& sink, const MonitorTexts& texts, TvopParamsList& params)
      : sink_(sink), texts_(texts), params_(params) {}

  // Use starts a segment: its settings, and no client yet. (A record or a
  // settings object of a segment already raised may be gone, its address
  // taken again.)
  void Use(const MonitorSettings& settings) {
    settings_ = &settings;
    client_ = nullptr;
    parser_values_.clear();
    generating_lines_.clear();
    for (const MonitorSettings::Row& row : settings.rows) {
      parser_values_.emplace_back(std::string_view(row.var_name));
      generating_lines_.push_back(Joined(texts_.generating_event, row.event_name));
    }
  }

  void Write(const Notice& n) {
    const MonitorSettings::Row& row = settings_->rows[n.row];
    if (n.kind == Notice::Kind::kResume) {
      const std::string name = row.event_name + settings_->resume_suffix;
      sink_.SendLog(kLevelNotice, Joined(texts_.generating_event, name));
      OleVariant::CopyInto(&params_.Item(0)->Value, n.row_id.Raw());
      client_ = nullptr;  // the first item no longer holds a client's stored ID
      OleVariant::CopyInto(&params_.Item(1)->Value, parser_values_[n.row].Raw());
      sink_.RaiseEvent(false, name, &params_);
      return;
    }
    if (client_ != n.client) {
      const std::string id_text = n.client->ClientId.ToText();
      timeout_line_ = id_text.empty() ? texts_.timeout : Joined(texts_.timeout, id_text);
      n.client->ClientId.MoveInto(&params_.Item(0)->Value);
      client_ = n.client;
    }
    sink_.SendLog(kLevelWarning, timeout_line_);
    if (row.event_name.empty()) return;
    OleVariant::CopyInto(&params_.Item(1)->Value, parser_values_[n.row].Raw());
    sink_.RaiseEvent(false, row.event_name, &params_);
    sink_.SendLog(kLevelWarning, generating_lines_[n.row]);
  }

 private:
  MonitorSink& sink_;
  const MonitorTexts& texts_;
  TvopParamsList& params_;
  const MonitorSettings* settings_ = nullptr;
  std::vector<OleVariant> parser_values_;      // per row: PARSER-ITEM
  std::vector<std::string> generating_lines_;  // per row: the line after its event
  const TClientListItem* client_ = nullptr;    // whose ID and timeout line are below
  std::string timeout_line_;
};

void EventOutbox::Post(const std::shared_ptr<const void>& owner, const MonitorSettings& settings,
                       Notice* notices, size_t count) {
  if (count == 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  if (queue_.empty() || queue_.back().owner.get() != owner.get())
    queue_.push_back(Segment{owner, &settings, {}});
  std::deque<Notice>& to = queue_.back().notices;
  for (size_t i = 0; i < count; ++i) to.push_back(std::move(notices[i]));
  pending_.store(true);
}

void EventOutbox::Deliver(MonitorSink& sink, const MonitorTexts& texts) {
  // A thread that posts and then finds another one delivering returns; the
  // deliverer looks for new notices after it lets go, so none is left behind.
  while (pending_.load()) {
    if (delivering_.exchange(true)) return;
    struct Release {
      std::atomic<bool>& delivering;
      ~Release() { delivering.store(false); }
    } release{delivering_};
    Drain(sink, texts);
  }
}

void EventOutbox::Drain(MonitorSink& sink, const MonitorTexts& texts) {
  if (!params_) {
    params_ = NewParamsList();
    params_->Add(kClientIdItem, OleVariant::Null());
    params_->Add(kParserItem, OleVariant::Null());
  }
  Writer writer(sink, texts, *params_);
  for (;;) {
    std::deque<Segment> batch;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (queue_.empty()) {
        pending_.store(false);
        stalled_.store(false);
        return;
      }
      batch.swap(queue_);
    }
    try {
      while (!batch.empty()) {
        Segment& segment = batch.front();
        writer.Use(*segment.settings);
        while (!segment.notices.empty()) {
          const Notice notice = std::move(segment.notices.front());
          segment.notices.pop_front();
          writer.Write(notice);
        }
        batch.pop_front();
      }
    } catch (...) {
      // What was not reached goes back in front of what came meanwhile.
      std::lock_guard<std::mutex> lock(mu_);
      while (!batch.empty()) {
        if (!batch.back().notices.empty()) queue_.push_front(std::move(batch.back()));
        batch.pop_back();
      }
      stalled_.store(!queue_.empty());
      throw;
    }
  }
}

}  // namespace tarvel
