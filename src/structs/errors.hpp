#pragma once
// The system's error values: the payload errors of the layers below (I/O,
// serial port, TOML, logger, packing, error report) and the two enumerations
// AppError and UiError. Each has a display text, a debug form and a source.

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <variant>

#include "structs/debug_form.hpp"

namespace kestrel {

// Common face of every error: display text, debug form, and the underlying error.
class Error {
 public:
  virtual ~Error() = default;
  virtual std::string display() const = 0;
  virtual void debug_form(DebugWriter& w) const = 0;
  // The underlying error, or nullptr. Valid as long as this error lives.
  virtual const Error* source() const { return nullptr; }
};

inline void debug(DebugWriter& w, const Error& e) {
  e.debug_form(w);
}

// ---- payload errors -------------------------------------------------------

enum class IoErrorKind {
  NotFound,
  PermissionDenied,
  AlreadyExists,
  WouldBlock,
  InvalidInput,
  InvalidData,
  TimedOut,
  WriteZero,
  Interrupted,
  UnexpectedEof,
  BrokenPipe,
  IsADirectory,
  ReadOnlyFilesystem,
  StorageFull,
  OutOfMemory,
  Other,
  NotADirectory,
  DirectoryNotEmpty,
  ResourceBusy,
  FileTooLarge,
  FilesystemLoop,
  FilesystemQuotaExceeded,
  InvalidFilename,
  NotSeekable,
  Unsupported,
  Uncategorized,  // an operating-system error of no other kind
};
std::string_view io_error_kind_name(IoErrorKind kind);

// An input/output error: either an operating-system error (errno) or a fixed
// message of the system's own ("failed to write whole buffer", ...).
// Display: "Permission denied (os error 13)", or the message.
// Debug: Os { code: 13, kind: PermissionDenied, message: "Permission denied" },
// or Custom { kind: WriteZero, error: "failed to write whole buffer" }.
class IoError final : public Error {
 public:
  static IoError from_errno(int code);
  static IoError custom(IoErrorKind kind, std::string message);
  // "stream did not contain valid UTF-8" (InvalidData).
  static IoError invalid_utf8();
  // "failed to write whole buffer" (WriteZero).
  static IoError write_zero();

  std::optional<int> os_code() const { return code_; }
  IoErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }

  std::string display() const override;
  void debug_form(DebugWriter& w) const override;

 private:
  IoError(std::optional<int> code, IoErrorKind kind, std::string message)
      : code_(code), kind_(kind), message_(std::move(message)) {}
  std::optional<int> code_;
  IoErrorKind kind_;
  std::string message_;
};

enum class SerialErrorKind { NoDevice, InvalidInput, Unknown, Io };

// Error of the serial port layer: a kind (with the I/O kind when it is Io) and
// the system's description, which is also its display text.
// Debug: Error { kind: NoDevice, description: "..." }, kind Io as Io(TimedOut).
class SerialError final : public Error {
 public:
  SerialError(SerialErrorKind kind, std::string description,
              IoErrorKind io_kind = IoErrorKind::Other)
      : kind_(kind), io_kind_(io_kind), description_(std::move(description)) {}
  static SerialError from_errno(int code);  // kind Io, or NoDevice for ENOENT/ENODEV/ENXIO

  SerialErrorKind kind() const { return kind_; }
  IoErrorKind io_kind() const { return io_kind_; }  // meaningful for kind Io
  const std::string& description() const { return description_; }

  std::string display() const override { return description_; }
  void debug_form(DebugWriter& w) const override;

 private:
  SerialErrorKind kind_;
  IoErrorKind io_kind_;
  std::string description_;
};

// TOML read error: the parser's (or the reading rules') message and position.
// Display: "TOML parse error at line 1, column 5" and the message on the next
// line; the message alone without a position.
// Debug: TomlReadError { message: "...", line: Some(1), column: Some(5) }.
class TomlReadError final : public Error {
 public:
  TomlReadError(std::string message, std::optional<std::uint32_t> line = std::nullopt,
                std::optional<std::uint32_t> column = std::nullopt)
      : message_(std::move(message)), line_(line), column_(column) {}
  const std::string& message() const { return message_; }
  std::optional<std::uint32_t> line() const { return line_; }
  std::optional<std::uint32_t> column() const { return column_; }

  std::string display() const override;
  void debug_form(DebugWriter& w) const override;

 private:
  std::string message_;
  std::optional<std::uint32_t> line_, column_;
};

// TOML write error (for example a value out of the TOML integer range).
// Display: the message. Debug: TomlWriteError("...").
class TomlWriteError final : public Error {
 public:
  explicit TomlWriteError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }
  std::string display() const override { return message_; }
  void debug_form(DebugWriter& w) const override;

 private:
  std::string message_;
};

// The file logger could not start. Display: the message. Debug: LogInitError("...").
class LogInitError final : public Error {
 public:
  explicit LogInitError(std::string message) : message_(std::move(message)) {}
  std::string display() const override { return message_; }
  void debug_form(DebugWriter& w) const override;

 private:
  std::string message_;
};

// Error of result packing; kept for the enumeration, nothing raises it.
// Display: the message. Debug: PackingError("...").
class PackingError final : public Error {
 public:
  explicit PackingError(std::string message) : message_(std::move(message)) {}
  std::string display() const override { return message_; }
  void debug_form(DebugWriter& w) const override;

 private:
  std::string message_;
};

// An error report: the error it owns and the place of the step that failed.
// Its display text is the owned error's display text; its causes are that
// error's sources. Its debug form is the display text, then, when there are
// causes, a blank line, "Caused by:" and the causes' display texts indented
// (numbered "0: ", "1: " ... when there are several), then a blank line,
// "Location:" and the indented "file:line".
class Report final : public Error {
 public:
  template <class E>
  requires(std::derived_from<E, Error> && !std::same_as<E, Report>) explicit Report(
      E error, std::source_location where = std::source_location::current())
      : error_(std::make_shared<const E>(std::move(error))), where_(where) {}

  const Error& error() const { return *error_; }
  const std::source_location& location() const { return where_; }

  std::string display() const override { return error_->display(); }
  void debug_form(DebugWriter& w) const override;
  // The owned error's source (the report's first cause).
  const Error* source() const override { return error_->source(); }

 private:
  std::shared_ptr<const Error> error_;
  std::source_location where_;
};

// ---- AppError -------------------------------------------------------------

namespace app_error {
struct ParseBeggining {
  std::string text;
};
struct ParseEnd {
  std::string text;
};
struct PortConnection {
  SerialError error;
};
struct OpenOutput {
  IoError error;
};
struct TUIInitialization {
  Report report;
};
struct TUIRuntimeError {
  Report report;
};
struct TUIPackingError {
  PackingError error;
};
struct ConfigNotFound {};
struct InvalidConfig {
  TomlReadError error;
};
struct InvalidDataForConfig {
  TomlWriteError error;
};
struct NoVersionFound {};
struct BadScanFrequencies {
  std::string text;
};
struct LoggerError {
  LogInitError error;
};
struct SendError {
  IoError error;
};
using Variant =
    std::variant<ParseBeggining, ParseEnd, PortConnection, OpenOutput, TUIInitialization,
                 TUIRuntimeError, TUIPackingError, ConfigNotFound, InvalidConfig,
                 InvalidDataForConfig, NoVersionFound, BadScanFrequencies, LoggerError, SendError>;
}  // namespace app_error

// What AppError and UiError share: one payload struct per variant, held in
// `Variant`; the display text, debug form and source follow from the variant.
template <class VariantT>
class ErrorEnumeration : public Error {
 public:
  using Variant = VariantT;

  const Variant& variant() const { return v_; }
  template <class V>
  bool is() const {
    return std::holds_alternative<V>(v_);
  }
  template <class V>
  const V* get() const {
    return std::get_if<V>(&v_);
  }
  std::string_view name() const;  // the variant's name, e.g. "ConfigNotFound"

  std::string display() const override;
  void debug_form(DebugWriter& w) const override;
  const Error* source() const override;

 protected:
  // Builds the alternative in place (moving a whole variant trips GCC's
  // maybe-uninitialized analysis under the sanitizers).
  template <class V>
  explicit ErrorEnumeration(V&& v)
      : v_(std::in_place_type<std::remove_cvref_t<V>>, std::forward<V>(v)) {}

 private:
  Variant v_;
};

// The program's own errors. Display texts are fixed, misspellings included;
// the debug form is the variant's name, with the payload's debug form in
// parentheses when it has one (ScanError(NoVersionFound)). Sources: the
// payload error, the error inside the report for TUIInitialization, none for
// TUIRuntimeError and SendError.
class AppError final : public ErrorEnumeration<app_error::Variant> {
 public:
  template <class V>
  requires std::constructible_from<Variant, V> AppError(V v) : ErrorEnumeration(std::move(v)) {}
};

// ---- UiError --------------------------------------------------------------

namespace ui_error {
struct MenuSelectionError {};
struct UninitializedItemList {
  std::string name;
  std::uint32_t line;
  std::string file;
};
struct KeyPress {
  IoError error;
};
struct NoPortSelected {};
struct ScanError {
  AppError error;
};
struct NoConnectionInfoCreated {};
struct NoReturnData {};
struct NoErrorSpecified {};
struct SerializeError {
  TomlWriteError error;
};
using Variant =
    std::variant<MenuSelectionError, UninitializedItemList, KeyPress, NoPortSelected, ScanError,
                 NoConnectionInfoCreated, NoReturnData, NoErrorSpecified, SerializeError>;
}  // namespace ui_error

// The interface's errors; same conventions as AppError. UninitializedItemList
// displays "...(file:line)" but its debug form lists name, line, file.
class UiError final : public ErrorEnumeration<ui_error::Variant> {
 public:
  template <class V>
  requires std::constructible_from<Variant, V> UiError(V v) : ErrorEnumeration(std::move(v)) {}

  // UninitializedItemList naming `name`, with the file and line of the caller.
  static UiError uninitialized(std::string name,
                               std::source_location where = std::source_location::current());
};

extern template class ErrorEnumeration<app_error::Variant>;
extern template class ErrorEnumeration<ui_error::Variant>;

}  // namespace kestrel
