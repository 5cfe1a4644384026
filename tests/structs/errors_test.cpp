#include "structs/errors.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <source_location>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

using namespace app_error;
using namespace ui_error;

std::string compact(const Error& e) {
  return debug_string(e);
}
std::string pretty(const Error& e) {
  return debug_string(e, true);
}

// The display texts of an error and of every source after it.
std::vector<std::string> chain(const Error& e) {
  std::vector<std::string> out;
  for (const Error* p = &e; p != nullptr; p = p->source())
    out.push_back(p->display());
  return out;
}

std::string location_line(const std::source_location& at) {
  return std::string(at.file_name()) + ":" + std::to_string(at.line());
}

const IoError kDenied = IoError::from_errno(EACCES);
const char* const kDeniedDebug =
    R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })";

struct Case {
  std::string name;
  std::string display;
  std::string debug;
};

// One case per variant, in declared order.
template <class E>
void check_every_variant(const std::vector<std::pair<E, Case>>& cases) {
  ASSERT_EQ(cases.size(), std::variant_size_v<typename E::Variant>);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [error, expected] = cases[i];
    EXPECT_EQ(error.variant().index(), i);
    EXPECT_EQ(error.name(), expected.name);
    EXPECT_EQ(error.display(), expected.display) << expected.name;
    EXPECT_EQ(compact(error), expected.debug) << expected.name;
  }
}

TEST(AppErrorForms, EveryVariant) {
  const auto at = std::source_location::current();
  const Report report(IoError::write_zero(), at);
  const std::string report_debug =
      "failed to write whole buffer\n\nLocation:\n    " + location_line(at);
  const std::vector<std::pair<AppError, Case>> cases = {
      {ParseBeggining{"ab\"c"},
       {"ParseBeggining", "Couldn't parse the beggining of the data (ab\"c)",
        R"(ParseBeggining("ab\"c"))"}},
      {ParseEnd{""}, {"ParseEnd", "Couldn't parse the end of the data ()", R"(ParseEnd(""))"}},
      {PortConnection{SerialError(SerialErrorKind::NoDevice, "no such port")},
       {"PortConnection", "Couldn't connect to the given port",
        R"(PortConnection(Error { kind: NoDevice, description: "no such port" }))"}},
      {OpenOutput{kDenied},
       {"OpenOutput", "Couldn't open the given file",
        std::string("OpenOutput(") + kDeniedDebug + ")"}},
      {TUIInitialization{report},
       {"TUIInitialization", "An error occured while creating the TUI",
        "TUIInitialization(" + report_debug + ")"}},
      {TUIRuntimeError{report},
       {"TUIRuntimeError", "A runtime error occured :\nfailed to write whole buffer",
        "TUIRuntimeError(" + report_debug + ")"}},
      {TUIPackingError{PackingError("bits")},
       {"TUIPackingError", "An error occured while trying to parse the result",
        R"(TUIPackingError(PackingError("bits")))"}},
      {ConfigNotFound{},
       {"ConfigNotFound", "The config file couldn't be opened", "ConfigNotFound"}},
      {InvalidConfig{TomlReadError("invalid string", 1, 5)},
       {"InvalidConfig", "The config config.toml couldn't be read",
        R"(InvalidConfig(TomlReadError { message: "invalid string", line: Some(1), column: Some(5) }))"}},
      {InvalidDataForConfig{TomlWriteError("out of range")},
       {"InvalidDataForConfig", "The config config.toml couldn't be written",
        R"(InvalidDataForConfig(TomlWriteError("out of range")))"}},
      {NoVersionFound{},
       {"NoVersionFound",
        "Couldn't acquire the version of the device connected to the specified port",
        "NoVersionFound"}},
      {BadScanFrequencies{"a\nb"},
       {"BadScanFrequencies", "The given scan frequencies are inccorect (a\nb)",
        R"(BadScanFrequencies("a\nb"))"}},
      {LoggerError{LogInitError("cannot open log")},
       {"LoggerError", "Couldn't initialize the logging modure",
        R"(LoggerError(LogInitError("cannot open log")))"}},
      {SendError{IoError::write_zero()},
       {"SendError", "Couldn't write to the TinySA, connection lost",
        R"(SendError(Custom { kind: WriteZero, error: "failed to write whole buffer" }))"}},
  };
  check_every_variant(cases);
}

TEST(UiErrorForms, EveryVariant) {
  const std::vector<std::pair<UiError, Case>> cases = {
      {MenuSelectionError{},
       {"MenuSelectionError", "An error occured while selecting a menu item",
        "MenuSelectionError"}},
      {UninitializedItemList{"port_list", 42, "src/ui/app.cpp"},
       {"UninitializedItemList", "The item list (port_list) wasn't initialyzed (src/ui/app.cpp:42)",
        R"(UninitializedItemList("port_list", 42, "src/ui/app.cpp"))"}},
      {KeyPress{kDenied},
       {"KeyPress", "An error occured while proccesing the key events",
        std::string("KeyPress(") + kDeniedDebug + ")"}},
      {NoPortSelected{}, {"NoPortSelected", "No port was selected", "NoPortSelected"}},
      {ScanError{AppError(BadScanFrequencies{"T"})},
       {"ScanError",
        "An error occured while trying to scan: The given scan frequencies are inccorect (T)",
        R"(ScanError(BadScanFrequencies("T")))"}},
      {NoConnectionInfoCreated{},
       {"NoConnectionInfoCreated",
        "An error occured while trying to acquire the connection info structure",
        "NoConnectionInfoCreated"}},
      {NoReturnData{},
       {"NoReturnData", "An error occured while trying to acquire the return data",
        "NoReturnData"}},
      {NoErrorSpecified{},
       {"NoErrorSpecified", "An unspecified error occured", "NoErrorSpecified"}},
      {SerializeError{TomlWriteError("bad")},
       {"SerializeError", "Couldn't serialize the error to file",
        R"(SerializeError(TomlWriteError("bad")))"}},
  };
  check_every_variant(cases);
}

TEST(ErrorForms, PrettyLayout) {
  EXPECT_EQ(pretty(UiError(ScanError{NoVersionFound{}})), "ScanError(\n    NoVersionFound,\n)");
  EXPECT_EQ(pretty(UiError(NoReturnData{})), "NoReturnData");
  EXPECT_EQ(pretty(UiError(UninitializedItemList{"gauge", 7, "a.cpp"})),
            "UninitializedItemList(\n    \"gauge\",\n    7,\n    \"a.cpp\",\n)");
  EXPECT_EQ(pretty(UiError(ScanError{PortConnection{SerialError::from_errno(ETIMEDOUT)}})),
            "ScanError(\n"
            "    PortConnection(\n"
            "        Error {\n"
            "            kind: Io(\n"
            "                TimedOut,\n"
            "            ),\n"
            "            description: \"Connection timed out\",\n"
            "        },\n"
            "    ),\n"
            ")");
  const auto at = std::source_location::current();
  EXPECT_EQ(pretty(AppError(TUIRuntimeError{Report(IoError::invalid_utf8(), at)})),
            "TUIRuntimeError(\n"
            "    stream did not contain valid UTF-8\n"
            "\n"
            "    Location:\n"
            "        " +
                location_line(at) +
                ",\n"
                ")");
}

TEST(ErrorSources, ChainsFollowTheTables) {
  const UiError scan = ScanError{OpenOutput{kDenied}};
  EXPECT_EQ(chain(scan), (std::vector<std::string>{
                             "An error occured while trying to scan: Couldn't open the given file",
                             "Couldn't open the given file",
                             "Permission denied (os error 13)",
                         }));
  EXPECT_EQ(UiError(ScanError{BadScanFrequencies{"T"}}).source()->source(), nullptr);
  EXPECT_EQ(AppError(SendError{kDenied}).source(), nullptr);
  EXPECT_EQ(AppError(TUIRuntimeError{Report(kDenied)}).source(), nullptr);
  EXPECT_EQ(UiError(NoPortSelected{}).source(), nullptr);

  // TUIInitialization gives the error inside its report, then that error's sources.
  const AppError init = TUIInitialization{Report(AppError(LoggerError{LogInitError("x")}))};
  EXPECT_EQ(chain(init), (std::vector<std::string>{"An error occured while creating the TUI",
                                                   "Couldn't initialize the logging modure", "x"}));
  for (const AppError& e :
       {AppError(PortConnection{SerialError(SerialErrorKind::Unknown, "u")}),
        AppError(TUIPackingError{PackingError("p")}), AppError(InvalidConfig{TomlReadError("r")}),
        AppError(InvalidDataForConfig{TomlWriteError("w")})}) {
    EXPECT_NE(e.source(), nullptr) << e.name();
  }
  EXPECT_NE(UiError(KeyPress{kDenied}).source(), nullptr);
  EXPECT_NE(UiError(SerializeError{TomlWriteError("w")}).source(), nullptr);
}

TEST(ReportForm, ListsCausesAndLocation) {
  const auto at = std::source_location::current();
  const std::string where = "\n\nLocation:\n    " + location_line(at);
  const Report one(UiError(KeyPress{kDenied}), at);
  EXPECT_EQ(one.display(), "An error occured while proccesing the key events");
  EXPECT_EQ(compact(one),
            "An error occured while proccesing the key events\n\nCaused by:\n"
            "    Permission denied (os error 13)" +
                where);
  const Report several(UiError(ScanError{InvalidConfig{TomlReadError("bad value", 2, 9)}}), at);
  EXPECT_EQ(compact(several),
            "An error occured while trying to scan: The config config.toml couldn't be read\n\n"
            "Caused by:\n"
            "    0: The config config.toml couldn't be read\n"
            "    1: TOML parse error at line 2, column 9\n"
            "       bad value" +
                where);
}

TEST(PayloadErrors, IoAndSerialErrorsFromErrno) {
  EXPECT_EQ(kDenied.display(), "Permission denied (os error 13)");
  EXPECT_EQ(kDenied.kind(), IoErrorKind::PermissionDenied);
  EXPECT_EQ(compact(kDenied), kDeniedDebug);
  const IoError unknown = IoError::from_errno(EIO);
  EXPECT_EQ(compact(unknown),
            R"(Os { code: 5, kind: Uncategorized, message: "Input/output error" })");
  EXPECT_EQ(IoError::invalid_utf8().display(), "stream did not contain valid UTF-8");
  EXPECT_EQ(compact(IoError::invalid_utf8()),
            R"(Custom { kind: InvalidData, error: "stream did not contain valid UTF-8" })");

  const SerialError missing = SerialError::from_errno(ENOENT);
  EXPECT_EQ(missing.kind(), SerialErrorKind::NoDevice);
  EXPECT_EQ(missing.display(), "No such file or directory");
  const SerialError busy = SerialError::from_errno(EBUSY);
  EXPECT_EQ(compact(busy),
            R"(Error { kind: Io(ResourceBusy), description: "Device or resource busy" })");
}

TEST(PayloadErrors, TomlReadErrorDisplay) {
  EXPECT_EQ(TomlReadError("invalid string", 1, 5).display(),
            "TOML parse error at line 1, column 5\ninvalid string");
  EXPECT_EQ(TomlReadError("missing field `port`").display(), "missing field `port`");
  EXPECT_EQ(compact(TomlReadError("m")),
            R"(TomlReadError { message: "m", line: None, column: None })");
}

TEST(UiErrorUninitialized, RecordsTheCallersPlace) {
  const auto here = std::source_location::current();
  const UiError e = UiError::uninitialized("baud_list");
  const auto* item = e.get<UninitializedItemList>();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->name, "baud_list");
  EXPECT_EQ(item->line, here.line() + 1);
  EXPECT_EQ(item->file, here.file_name());
}

TEST(ErrorValues, CopiesOutliveTheOriginalAndCrossThreads) {
  std::optional<UiError> copy;
  {
    const Report report(AppError(OpenOutput{kDenied}));
    const UiError original = ScanError{TUIInitialization{report}};
    copy = original;
  }
  std::string seen;
  std::thread([&] { seen = chain(*copy).back(); }).join();
  EXPECT_EQ(seen, "Permission denied (os error 13)");
}

}  // namespace
}  // namespace kestrel
