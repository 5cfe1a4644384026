#pragma once
// Enter: the one step that moves the interface forward through its screens.

#include <expected>
#include <filesystem>
#include <functional>

#include "scan/scan_thread.hpp"
#include "structs/connection_info.hpp"
#include "structs/errors.hpp"
#include "ui/app_state.hpp"

namespace kestrel::ui {

// Starts the scan with the scan record and the outcome record (two copies
// sharing the interface's cells). The real one starts a detached thread.
using ScanSpawner = std::function<void(ConnectionInfo scan_record, ConnectionInfo outcome_record)>;

// By screen:
//   Selection  -> Parameters, focus 0.
//   Parameters -> Scanning (also when a later step fails), with a new
//                 progress gauge; then reads the port and rate selections,
//                 fills connection_info (MHz turned into Hz, held at the
//                 largest value when too large), saves the six settings to
//                 `config_path` and hands two copies of the record to
//                 `spawn`. Errors, in order: NoConnectionInfoCreated;
//                 NoPortSelected or MenuSelectionError (port);
//                 UninitializedItemList or MenuSelectionError (rate), the
//                 record still unchanged; KeyPress or SerializeError (save),
//                 the record filled. No scan starts after an error.
//   Scanning   -> Results.
//   Results, Failure: sets quit_requested.
std::expected<void, UiError> validate_configuration(
    AppState& app, const ScanSpawner& spawn = spawn_scan_thread,
    const std::filesystem::path& config_path = "config.toml");

}  // namespace kestrel::ui
