#include "ui/shell_start.hpp"

#include <algorithm>
#include <ctime>
#include <filesystem>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "ui_struct/baudrate.hpp"

namespace kestrel::shell {

std::string log_file_name(std::string_view program, std::chrono::system_clock::time_point now) {
  std::string stem = std::filesystem::path(program).stem().string();
  if (stem.empty()) {
    stem = "kestrel";
  }
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  return fmt::format("{}_{:%Y-%m-%d_%H-%M-%S}.log", stem, fmt::localtime(t));
}

std::size_t initial_port_index(const std::vector<std::string>& ports,
                               const std::optional<std::string>& saved) {
  std::vector<std::string_view> candidates;
  if (saved) {
    candidates.push_back(*saved);
  }
  candidates.insert(candidates.end(), kPortCandidates.begin(), kPortCandidates.end());
  for (std::string_view candidate : candidates) {
    if (auto it = std::ranges::find(ports, candidate); it != ports.end()) {
      return static_cast<std::size_t>(it - ports.begin());
    }
  }
  return 0;
}

ui::AppState initial_state(const std::expected<SavedConfig, AppError>& settings,
                           std::vector<std::string> ports) {
  // The defaults stand for a missing or unreadable config.toml alike.
  const SavedConfig saved = settings.value_or(SavedConfig{.port = {},
                                                          .baudrate = 115200,
                                                          .start_frequency = 240,
                                                          .stop_frequency = 960,
                                                          .points = 10001,
                                                          .repeat = 1});

  ui::AppState app;
  app.start_input = {.value = saved.start_frequency, .step = 10, .min = 0, .max = 960};
  app.stop_input = {.value = saved.stop_frequency, .step = 10, .min = 10, .max = 960};
  app.points_input = {.value = saved.points, .step = 100, .min = 101, .max = 1000001};
  app.repeat_input = {.value = saved.repeat, .step = 1, .min = 1, .max = 1000};

  app.baud_list = baudrate_values();
  if (auto index = baudrate_index(saved.baudrate)) {
    app.baud_list.state.select(*index);
  }

  const std::optional<std::string> saved_port =
      settings ? std::optional<std::string>(saved.port) : std::nullopt;
  app.port_list.state.select(initial_port_index(ports, saved_port));
  app.port_list.items = std::move(ports);

  // Placeholders: the validation step sets every plain field before a scan.
  ConnectionInfo info;
  info.points = 11;
  info.baudrate = 115200;
  info.repeat = 1;
  info.start = 240;
  info.stop = 960;
  app.connection_info.emplace(info);

  // Their blocks and colours come from build_lists before the first frame.
  const auto highlight = tui::Style{}.bg(tui::Color::Blue).add_modifier(tui::Modifier::Italic);
  std::vector<std::string> rates;
  for (std::uint32_t rate : app.baud_list.items) {
    rates.push_back(std::to_string(rate));
  }
  app.port_list_widget = tui::List(app.port_list.items).highlight_style(highlight);
  app.baud_list_widget = tui::List(std::move(rates)).highlight_style(highlight);
  return app;
}

}  // namespace kestrel::shell
