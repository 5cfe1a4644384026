#include "structs/errors.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <type_traits>

namespace kestrel {
namespace {

// The system's message for an errno value (thread-safe).
std::string os_message(int code) {
  char buffer[256];
  return ::strerror_r(code, buffer, sizeof buffer);
}

IoErrorKind kind_of_errno(int code) {
  switch (code) {
    case EPERM:
    case EACCES:
      return IoErrorKind::PermissionDenied;
    case ENOENT:
      return IoErrorKind::NotFound;
    case EEXIST:
      return IoErrorKind::AlreadyExists;
    case EAGAIN:
      return IoErrorKind::WouldBlock;
    case EINVAL:
      return IoErrorKind::InvalidInput;
    case ETIMEDOUT:
      return IoErrorKind::TimedOut;
    case EINTR:
      return IoErrorKind::Interrupted;
    case EPIPE:
      return IoErrorKind::BrokenPipe;
    case EISDIR:
      return IoErrorKind::IsADirectory;
    case EROFS:
      return IoErrorKind::ReadOnlyFilesystem;
    case ENOSPC:
      return IoErrorKind::StorageFull;
    case ENOMEM:
      return IoErrorKind::OutOfMemory;
    case ENOTDIR:
      return IoErrorKind::NotADirectory;
    case ENOTEMPTY:
      return IoErrorKind::DirectoryNotEmpty;
    case EBUSY:
      return IoErrorKind::ResourceBusy;
    case EFBIG:
      return IoErrorKind::FileTooLarge;
    case ELOOP:
      return IoErrorKind::FilesystemLoop;
    case EDQUOT:
      return IoErrorKind::FilesystemQuotaExceeded;
    case ENAMETOOLONG:
      return IoErrorKind::InvalidFilename;
    case ESPIPE:
      return IoErrorKind::NotSeekable;
    case ENOSYS:
      return IoErrorKind::Unsupported;
    default:
      return IoErrorKind::Uncategorized;
  }
}

std::string_view serial_kind_name(SerialErrorKind kind) {
  switch (kind) {
    case SerialErrorKind::NoDevice:
      return "NoDevice";
    case SerialErrorKind::InvalidInput:
      return "InvalidInput";
    case SerialErrorKind::Unknown:
      return "Unknown";
    case SerialErrorKind::Io:
      return "Io";
  }
  return "Unknown";
}

// Debug form of an error type that holds one message: Name("message").
void message_debug(DebugWriter& w, std::string_view name, const std::string& message) {
  w.tuple(name, [&] { w.element(message); });
}

// ---- what AppError and UiError variants share ------------------------------

// A variant's debug form: its name, with the payload in parentheses.
template <class V>
void variant_debug(DebugWriter& w, std::string_view name, const V& v) {
  if constexpr (requires { v.text; }) {
    w.tuple(name, [&] { w.element(v.text); });
  } else if constexpr (requires { v.error; }) {
    w.tuple(name, [&] { w.element(v.error); });
  } else if constexpr (requires { v.report; }) {
    w.tuple(name, [&] { w.element(v.report); });
  } else {
    w.token(name);
  }
}

void variant_debug(DebugWriter& w, std::string_view name,
                   const ui_error::UninitializedItemList& v) {
  w.tuple(name, [&] {
    w.element(v.name);
    w.element(v.line);
    w.element(v.file);
  });
}

// A variant's source: its payload error, the error inside a report; none for
// TUIRuntimeError (the report shows in its display text) and SendError (its
// error shows only in the debug form).
template <class V>
const Error* variant_source(const V& v) {
  if constexpr (std::is_same_v<V, app_error::TUIRuntimeError> ||
                std::is_same_v<V, app_error::SendError>) {
    return nullptr;
  } else if constexpr (requires { v.report; }) {
    return &v.report.error();
  } else if constexpr (requires { v.error; }) {
    return &v.error;
  } else {
    return nullptr;
  }
}

// A variant's display text: its fixed text, with the payload inserted.
template <class V>
std::string variant_display(std::string_view fixed, const V& v) {
  std::string out(fixed);
  if constexpr (requires { v.text; }) {
    out += v.text;
    out += ')';
  } else if constexpr (std::is_same_v<V, app_error::TUIRuntimeError>) {
    out += v.report.display();
  } else if constexpr (std::is_same_v<V, ui_error::ScanError>) {
    out += v.error.display();
  }
  return out;
}

std::string variant_display(std::string_view fixed, const ui_error::UninitializedItemList& v) {
  return std::string(fixed) + v.name + ") wasn't initialyzed (" + v.file + ":" +
         std::to_string(v.line) + ")";
}

// Name and fixed display text of each variant, in declared order.
struct VariantText {
  std::string_view name, text;
};

constexpr std::array<VariantText, std::variant_size_v<AppError::Variant>> kAppErrorTexts = {{
    {"ParseBeggining", "Couldn't parse the beggining of the data ("},
    {"ParseEnd", "Couldn't parse the end of the data ("},
    {"PortConnection", "Couldn't connect to the given port"},
    {"OpenOutput", "Couldn't open the given file"},
    {"TUIInitialization", "An error occured while creating the TUI"},
    {"TUIRuntimeError", "A runtime error occured :\n"},
    {"TUIPackingError", "An error occured while trying to parse the result"},
    {"ConfigNotFound", "The config file couldn't be opened"},
    {"InvalidConfig", "The config config.toml couldn't be read"},
    {"InvalidDataForConfig", "The config config.toml couldn't be written"},
    {"NoVersionFound",
     "Couldn't acquire the version of the device connected to the specified port"},
    {"BadScanFrequencies", "The given scan frequencies are inccorect ("},
    {"LoggerError", "Couldn't initialize the logging modure"},
    {"SendError", "Couldn't write to the TinySA, connection lost"},
}};

constexpr std::array<VariantText, std::variant_size_v<UiError::Variant>> kUiErrorTexts = {{
    {"MenuSelectionError", "An error occured while selecting a menu item"},
    {"UninitializedItemList", "The item list ("},
    {"KeyPress", "An error occured while proccesing the key events"},
    {"NoPortSelected", "No port was selected"},
    {"ScanError", "An error occured while trying to scan: "},
    {"NoConnectionInfoCreated",
     "An error occured while trying to acquire the connection info structure"},
    {"NoReturnData", "An error occured while trying to acquire the return data"},
    {"NoErrorSpecified", "An unspecified error occured"},
    {"SerializeError", "Couldn't serialize the error to file"},
}};

}  // namespace

// ---- payload errors ---------------------------------------------------------

std::string_view io_error_kind_name(IoErrorKind kind) {
  switch (kind) {
    case IoErrorKind::NotFound:
      return "NotFound";
    case IoErrorKind::PermissionDenied:
      return "PermissionDenied";
    case IoErrorKind::AlreadyExists:
      return "AlreadyExists";
    case IoErrorKind::WouldBlock:
      return "WouldBlock";
    case IoErrorKind::InvalidInput:
      return "InvalidInput";
    case IoErrorKind::InvalidData:
      return "InvalidData";
    case IoErrorKind::TimedOut:
      return "TimedOut";
    case IoErrorKind::WriteZero:
      return "WriteZero";
    case IoErrorKind::Interrupted:
      return "Interrupted";
    case IoErrorKind::UnexpectedEof:
      return "UnexpectedEof";
    case IoErrorKind::BrokenPipe:
      return "BrokenPipe";
    case IoErrorKind::IsADirectory:
      return "IsADirectory";
    case IoErrorKind::ReadOnlyFilesystem:
      return "ReadOnlyFilesystem";
    case IoErrorKind::StorageFull:
      return "StorageFull";
    case IoErrorKind::OutOfMemory:
      return "OutOfMemory";
    case IoErrorKind::Other:
      return "Other";
    case IoErrorKind::NotADirectory:
      return "NotADirectory";
    case IoErrorKind::DirectoryNotEmpty:
      return "DirectoryNotEmpty";
    case IoErrorKind::ResourceBusy:
      return "ResourceBusy";
    case IoErrorKind::FileTooLarge:
      return "FileTooLarge";
    case IoErrorKind::FilesystemLoop:
      return "FilesystemLoop";
    case IoErrorKind::FilesystemQuotaExceeded:
      return "FilesystemQuotaExceeded";
    case IoErrorKind::InvalidFilename:
      return "InvalidFilename";
    case IoErrorKind::NotSeekable:
      return "NotSeekable";
    case IoErrorKind::Unsupported:
      return "Unsupported";
    case IoErrorKind::Uncategorized:
      return "Uncategorized";
  }
  return "Uncategorized";
}

IoError IoError::from_errno(int code) {
  return IoError(code, kind_of_errno(code), os_message(code));
}

IoError IoError::custom(IoErrorKind kind, std::string message) {
  return IoError(std::nullopt, kind, std::move(message));
}

IoError IoError::invalid_utf8() {
  return custom(IoErrorKind::InvalidData, "stream did not contain valid UTF-8");
}

IoError IoError::write_zero() {
  return custom(IoErrorKind::WriteZero, "failed to write whole buffer");
}

std::string IoError::display() const {
  if (!code_)
    return message_;
  return message_ + " (os error " + std::to_string(*code_) + ")";
}

void IoError::debug_form(DebugWriter& w) const {
  if (code_) {
    w.record("Os", [&] {
      w.field("code", *code_);
      w.field_with("kind", [&] { w.token(io_error_kind_name(kind_)); });
      w.field("message", message_);
    });
  } else {
    w.record("Custom", [&] {
      w.field_with("kind", [&] { w.token(io_error_kind_name(kind_)); });
      w.field("error", message_);
    });
  }
}

SerialError SerialError::from_errno(int code) {
  if (code == ENOENT || code == ENODEV || code == ENXIO) {
    return SerialError(SerialErrorKind::NoDevice, os_message(code));
  }
  return SerialError(SerialErrorKind::Io, os_message(code), kind_of_errno(code));
}

void SerialError::debug_form(DebugWriter& w) const {
  w.record("Error", [&] {
    w.field_with("kind", [&] {
      if (kind_ == SerialErrorKind::Io) {
        w.tuple("Io", [&] { w.element_with([&] { w.token(io_error_kind_name(io_kind_)); }); });
      } else {
        w.token(serial_kind_name(kind_));
      }
    });
    w.field("description", description_);
  });
}

std::string TomlReadError::display() const {
  if (!line_)
    return message_;
  std::string out = "TOML parse error at line " + std::to_string(*line_);
  if (column_)
    out += ", column " + std::to_string(*column_);
  out += '\n';
  out += message_;
  return out;
}

void TomlReadError::debug_form(DebugWriter& w) const {
  w.record("TomlReadError", [&] {
    w.field("message", message_);
    w.field("line", line_);
    w.field("column", column_);
  });
}

void TomlWriteError::debug_form(DebugWriter& w) const {
  message_debug(w, "TomlWriteError", message_);
}

void LogInitError::debug_form(DebugWriter& w) const {
  message_debug(w, "LogInitError", message_);
}

void PackingError::debug_form(DebugWriter& w) const {
  message_debug(w, "PackingError", message_);
}

void Report::debug_form(DebugWriter& w) const {
  std::string text = error_->display();
  if (const Error* cause = error_->source()) {
    text += "\n\nCaused by:";
    const bool several = cause->source() != nullptr;
    for (int n = 0; cause != nullptr; cause = cause->source(), ++n) {
      text += '\n';
      const std::string label = several ? "    " + std::to_string(n) + ": " : "    ";
      text += label;
      append_indented(text, cause->display(), label.size());
    }
  }
  text += "\n\nLocation:\n    ";
  text += where_.file_name();
  text += ':';
  text += std::to_string(where_.line());
  w.token(text);
}

// ---- AppError and UiError ----------------------------------------------------

namespace {
const VariantText& variant_text(const app_error::Variant& v) {
  return kAppErrorTexts[v.index()];
}
const VariantText& variant_text(const ui_error::Variant& v) {
  return kUiErrorTexts[v.index()];
}
}  // namespace

template <class V>
std::string_view ErrorEnumeration<V>::name() const {
  return variant_text(v_).name;
}

template <class V>
std::string ErrorEnumeration<V>::display() const {
  return std::visit([&](const auto& v) { return variant_display(variant_text(v_).text, v); }, v_);
}

template <class V>
void ErrorEnumeration<V>::debug_form(DebugWriter& w) const {
  std::visit([&](const auto& v) { variant_debug(w, name(), v); }, v_);
}

template <class V>
const Error* ErrorEnumeration<V>::source() const {
  return std::visit([](const auto& v) { return variant_source(v); }, v_);
}

template class ErrorEnumeration<app_error::Variant>;
template class ErrorEnumeration<ui_error::Variant>;

UiError UiError::uninitialized(std::string name, std::source_location where) {
  return ui_error::UninitializedItemList{std::move(name), where.line(), where.file_name()};
}

}  // namespace kestrel
