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
// row its event's parameter list (the variable's value set once per
// segment) and the line after its event, per client its timeout line.
class EventOutbox::Writer {
 public:
  using RowParams = ParamsListPtr[MonitorSettings::kMaxRows];
  Writer(MonitorSink& sink, const MonitorTexts& texts, RowParams& params)
      : sink_(sink), texts_(texts), params_(params) {}

  // Use starts a segment: its settings, and no client yet. (A record or a
  // settings object of a segment already raised may be gone, its address
  // taken again.)
  void Use(const MonitorSettings& settings) {
    settings_ = &settings;
    client_ = nullptr;
    generating_lines_.clear();
    for (size_t r = 0; r < settings.rows.size(); ++r) {
      const MonitorSettings::Row& row = settings.rows[r];
      StoreItemValue(1, r, OleVariant(std::string_view(row.var_name)));
      params_client_[r] = nullptr;
      generating_lines_.push_back(Joined(texts_.generating_event, row.event_name));
    }
  }

  void Write(const Notice& n) {
    const MonitorSettings::Row& row = settings_->rows[n.row];
    TvopParamsList& params = *params_[n.row];
    if (n.kind == Notice::Kind::kResume) {
      const std::string name = row.event_name + settings_->resume_suffix;
      sink_.SendLog(kLevelNotice, Joined(texts_.generating_event, name));
      OleVariant::CopyInto(&params.Item(0)->Value, n.row_id.Raw());
      params_client_[n.row] = nullptr;  // the ID as the row carried it, not a client's stored one
      sink_.RaiseEvent(false, name, &params);
      return;
    }
    if (client_ != n.client) {
      const std::string id_text = n.client->ClientId.ToText();
      timeout_line_ = id_text.empty() ? texts_.timeout : Joined(texts_.timeout, id_text);
      client_ = n.client;
    }
    sink_.SendLog(kLevelWarning, timeout_line_);
    if (row.event_name.empty()) return;
    if (params_client_[n.row] != n.client) {
      n.client->ClientId.MoveInto(&params.Item(0)->Value);
      params_client_[n.row] = n.client;
    }
    sink_.RaiseEvent(false, row.event_name, &params);
    sink_.SendLog(kLevelWarning, generating_lines_[n.row]);
  }

 private:
  void StoreItemValue(int32_t item, size_t row, OleVariant value) {
    Variant* slot = &params_[row]->Item(item)->Value;
    OleVariant::ClearRaw(slot);
    *slot = value.Detach();
  }

  MonitorSink& sink_;
  const MonitorTexts& texts_;
  RowParams& params_;  // per row: CLIENTID-ITEM, PARSER-ITEM
  const MonitorSettings* settings_ = nullptr;
  // Per row: whose ID the row's list holds (null: none of a client's).
  const TClientListItem* params_client_[MonitorSettings::kMaxRows] = {};
  std::vector<std::string> generating_lines_;  // per row: the line after its event
  const TClientListItem* client_ = nullptr;    // whose timeout line is below
  std::string timeout_line_;
};

void EventOutbox::Post(const std::shared_ptr<const void>& owner, const MonitorSettings& settings,
                       Notice* notices, size_t count) {
  if (count == 0) return;
  MutexLock lock(mu_);
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
  for (ParamsListPtr& params : params_) {
    if (params) continue;
    params = NewParamsList();
    params->Add(kClientIdItem, OleVariant::Null());
    params->Add(kParserItem, OleVariant::Null());
  }
  Writer writer(sink, texts, params_);
  // The log lines of the whole delivery travel together, also when a sink
  // call fails.
  sink.BeginLogBatch();
  struct EndBatch {
    MonitorSink& sink;
    ~EndBatch() { sink.EndLogBatch(); }
  } end_batch{sink};
  for (;;) {
    std::deque<Segment> batch;
    {
      MutexLock lock(mu_);
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
      MutexLock lock(mu_);
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
