#pragma once
// The whole state of the terminal interface. The event loop owns one
// AppState for the life of the program and lends it to the frame drawing, the
// key actions and the validation step, one call at a time, on the interface
// thread. Only the cells inside connection_info are shared with the scan.

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "structs/connection_info.hpp"
#include "structs/errors.hpp"
#include "tui/chart.hpp"
#include "tui/line_gauge.hpp"
#include "tui/list.hpp"
#include "tui/style.hpp"
#include "ui_struct/number_input.hpp"
#include "ui_struct/stateful_list.hpp"

namespace kestrel::ui {

enum class Screen : std::uint8_t {
  Selection = 0,   // port list and baud-rate list
  Parameters = 1,  // the four number inputs
  Results = 2,     // summary and chart of the scan
  Scanning = 3,    // operation, progress line, instrument text
  Failure = 4,     // the error texts
};

// Focus values: on Selection 0 is the port list and 1 the baud-rate list; on
// Parameters 0 to 3 are the start, stop, points and repeat inputs.
struct AppState {
  AppState() = default;
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;
  AppState(AppState&&) = default;

  StatefulList<std::uint32_t> baud_list;
  StatefulList<std::string> port_list;
  // Hold the same entries as the lists above, in the same order.
  std::optional<tui::List> port_list_widget;
  std::optional<tui::List> baud_list_widget;
  std::optional<tui::LineGauge> progress_gauge;  // made on entering Scanning
  std::string header_text;
  std::vector<ScanPoint> chart_data;
  tui::PlotCache chart_cache;  // the Results chart's cells; reset with chart_data
  std::optional<ConnectionInfo> connection_info;
  NumberInput start_input;  // MHz
  NumberInput stop_input;   // MHz
  NumberInput points_input;
  NumberInput repeat_input;
  Screen ui_state = Screen::Selection;
  std::uint8_t focused_widget = 0;
  bool quit_requested = false;
  bool scan_logged = false;
};

// The interface's scan record in place, or NoConnectionInfoCreated.
std::expected<std::reference_wrapper<const ConnectionInfo>, UiError> connection_info_of(
    const AppState& app);

// `widget` with a new bordered block titled `title` (plain lines, border in
// `colour`) and its base style set to `colour` as foreground; items,
// highlight style and highlight symbol are kept.
tui::List make_list_widget(std::string title, tui::List widget, tui::Color colour);

}  // namespace kestrel::ui
