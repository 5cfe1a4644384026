#include "ui/failure_texts.hpp"

#include <fmt/format.h>

namespace kestrel::ui {

namespace {

constexpr std::string_view kUnspecified = "An unspecified error occured";

struct ShortText {
  std::string operator()(const ui_error::MenuSelectionError&) const {
    return "An error occured while trying to select a menu item";
  }
  std::string operator()(const ui_error::UninitializedItemList& e) const {
    return fmt::format("The item {} was left uninitialized", e.name);
  }
  std::string operator()(const ui_error::KeyPress&) const {
    return "An error occured while processing key events";
  }
  std::string operator()(const ui_error::NoPortSelected&) const {
    return "No connection port was selected";
  }
  std::string operator()(const ui_error::ScanError& e) const {
    return std::string(ERROR_SCREEN_TEXTS[e.error.variant().index()]);
  }
  std::string operator()(const ui_error::NoConnectionInfoCreated&) const {
    return "An error occured when tring to acquire connection info with the TinySA";
  }
  std::string operator()(const ui_error::NoReturnData&) const {
    return "An error occured when trying to acquire the return data with the TinySA";
  }
  std::string operator()(const ui_error::NoErrorSpecified&) const {
    return std::string(kUnspecified);
  }
  std::string operator()(const ui_error::SerializeError&) const {
    return "An error occured while tring to save the current config";
  }
};

}  // namespace

std::string failure_short_text(const std::optional<UiError>& error) {
  if (!error)
    return std::string(kUnspecified);
  return std::visit(ShortText{}, error->variant());
}

}  // namespace kestrel::ui
