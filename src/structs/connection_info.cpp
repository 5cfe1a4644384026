#include "structs/connection_info.hpp"

#include <utility>

namespace kestrel {

std::string_view connection_status_name(ConnectionStatus s) {
  switch (s) {
    case ConnectionStatus::Uninitialised:
      return "Uninitialised";
    case ConnectionStatus::ConnectionFailure:
      return "ConnectionFailure";
    case ConnectionStatus::ClosedWithSuccess:
      return "ClosedWithSuccess";
  }
  return "Uninitialised";
}

void debug(DebugWriter& w, ConnectionStatus s) {
  w.token(connection_status_name(s));
}

void debug(DebugWriter& w, const ScanPoint& p) {
  w.tuple({}, [&] {
    w.element(p.frequency);
    w.element(p.level);
  });
}

void ConnectionInfo::set_scan_message(std::string_view text, Where w) const {
  std::string copy(text);  // copied before the lock is taken
  scan_message_.with_lock([&](std::string& v) { v.swap(copy); }, w);
}

void ConnectionInfo::set_progress(std::uint64_t value, Where w) const {
  progress_.with_lock([&](std::uint64_t& v) { v = value; }, w);
}

void ConnectionInfo::set_scan_info(std::string_view text, Where w) const {
  std::string copy(text);
  scan_info_.with_lock([&](std::string& v) { v.swap(copy); }, w);
}

void ConnectionInfo::set_return_data(std::vector<ScanPoint> points, Where w) const {
  // The replaced list is swapped out and released after the lock is gone.
  std::optional<std::vector<ScanPoint>> incoming(std::move(points));
  return_data_.with_lock([&](std::optional<std::vector<ScanPoint>>& v) { v.swap(incoming); }, w);
}

void ConnectionInfo::set_file_name(std::string name, Where w) const {
  file_name_.with_lock([&](std::string& v) { v.swap(name); }, w);
}

void ConnectionInfo::set_connection_status(ConnectionStatus s, Where w) const {
  connection_status_.with_lock([&](ConnectionStatus& v) { v = s; }, w);
}

void ConnectionInfo::set_error_raised(UiError error, Where w) const {
  std::optional<UiError> incoming(std::move(error));
  error_raised_.with_lock([&](std::optional<UiError>& v) { v.swap(incoming); }, w);
}

std::uint64_t ConnectionInfo::get_progress(Where w) const {
  return progress_.with_lock([](const std::uint64_t& v) { return v; }, w);
}

std::string ConnectionInfo::get_scan_message(Where w) const {
  return scan_message_.with_lock([](const std::string& v) { return v; }, w);
}

std::string ConnectionInfo::get_scan_info(Where w) const {
  return scan_info_.with_lock([](const std::string& v) { return v; }, w);
}

ConnectionStatus ConnectionInfo::get_connection_status(Where w) const {
  return connection_status_.with_lock([](const ConnectionStatus& v) { return v; }, w);
}

std::expected<std::vector<ScanPoint>, UiError> ConnectionInfo::take_return_data(Where w) const {
  std::optional<std::vector<ScanPoint>> taken;
  return_data_.with_lock([&](std::optional<std::vector<ScanPoint>>& v) { taken.swap(v); }, w);
  if (taken)
    return std::move(*taken);
  return std::unexpected(UiError(ui_error::NoReturnData{}));
}

bool ConnectionInfo::is_error_raised(Where w) const {
  return error_raised_.with_lock([](const std::optional<UiError>& v) { return v.has_value(); }, w);
}

namespace {

// Absent or present optional value: None, or Some(value).
template <class T, class F>
void optional_form(DebugWriter& w, const std::optional<T>& v, F&& present) {
  if (!v) {
    w.token("None");
    return;
  }
  w.tuple("Some", [&] { w.element_with([&] { present(*v); }); });
}

void content_form(DebugWriter& w, std::uint64_t v) {
  w.value(v);
}
void content_form(DebugWriter& w, const std::string& v) {
  w.quoted(v);
}
void content_form(DebugWriter& w, ConnectionStatus v) {
  debug(w, v);
}
void content_form(DebugWriter& w, const std::optional<UiError>& v) {
  optional_form(w, v, [&](const UiError& e) { debug(w, e); });
}
void content_form(DebugWriter& w, const std::optional<std::vector<ScanPoint>>& v) {
  optional_form(w, v, [&](const std::vector<ScanPoint>& points) {
    w.list([&] {
      for (const ScanPoint& p : points)
        w.element(p);
    });
  });
}

// A cell as Mutex { data: ..., poisoned: ..., .. }; never waits for its lock.
template <class T>
void cell_form(DebugWriter& w, const SharedCell<T>& cell) {
  w.record(
      "Mutex",
      [&] {
        bool shown = cell.try_inspect(
            [&](const T& value, bool) { w.field_with("data", [&] { content_form(w, value); }); });
        if (!shown)
          w.field_with("data", [&] { w.token("<locked>"); });
        w.field("poisoned", cell.is_poisoned());
      },
      true);
}

}  // namespace

void debug(DebugWriter& w, const ConnectionInfo& info) {
  w.record("ConnectionInfo", [&] {
    w.field("points", info.points);
    w.field("baudrate", info.baudrate);
    w.field("port", info.port);
    w.field_with("progress", [&] { cell_form(w, info.progress_); });
    w.field("repeat", info.repeat);
    w.field_with("return_data", [&] { cell_form(w, info.return_data_); });
    w.field_with("scan_info", [&] { cell_form(w, info.scan_info_); });
    w.field_with("scan_message", [&] { cell_form(w, info.scan_message_); });
    w.field("start", info.start);
    w.field("stop", info.stop);
    w.field_with("file_name", [&] { cell_form(w, info.file_name_); });
    w.field_with("connection_status", [&] { cell_form(w, info.connection_status_); });
    w.field_with("error_raised", [&] { cell_form(w, info.error_raised_); });
  });
}

}  // namespace kestrel
