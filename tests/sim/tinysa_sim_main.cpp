// tinysa-sim: a simulated TinySA on a pseudo-terminal. Prints the device to
// open on its first line of output, then serves until SIGINT or SIGTERM, or
// until its standard input closes (when that is a pipe, socket or terminal).
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "sim/simulator.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: tinysa-sim [options]\n"
    "  --silent               never answer\n"
    "  --no-echo              do not echo commands\n"
    "  --no-info              answer \"info\" with the bare prompt\n"
    "  --greeting TEXT        send TEXT unasked at start\n"
    "  --chunk N              send the scan block in pieces of N bytes\n"
    "  --pause-ms M           pause M ms between pieces\n"
    "  --split-prompt         send the prompt as \"c\", a pause, \"h> \"\n"
    "  --prompt-pause-ms M    that pause (default 100)\n"
    "  --framing KIND         good, no-start, wrong-end or bad-marker\n"
    "  --bad-record N         index of the bad record (default 10)\n"
    "  --extra-records N      records sent = points asked + N (N may be negative)\n"
    "  --levels C,C,...       level codes of the first records\n"
    "  --hang-up-after N      close the port after N bytes of the block\n"
    "  --stall-after N        send N bytes of the block, then nothing, ever\n"
    "  --hang-up-after-commands N\n"
    "                         close the port once N commands are answered\n"
    "  --flood-after WORD     answer WORD with records for ever, never a prompt\n"
    "  --garbage TEXT         send TEXT before every echo (escapes \\xHH \\r \\n \\\\)\n"
    "  --twice                send every answer twice\n"
    "  --twice-pause-ms M     pause M ms before the second copy (default 0)\n"
    "  --print-commands       print each command received on its own line\n";

[[noreturn]] void usage_error(const std::string& message) {
  std::cerr << "tinysa-sim: " << message << "\n" << kUsage;
  std::exit(2);
}

long long number(const std::string& option, const char* text) {
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') {
    usage_error(option + " needs a number");
  }
  return value;
}

std::size_t count(const std::string& option, const char* text) {
  long long value = number(option, text);
  if (value < 0) {
    usage_error(option + " needs a number of 0 or more");
  }
  return static_cast<std::size_t>(value);
}

// TEXT with its escapes \xHH, \r, \n and \\ turned into the bytes they stand for.
std::string unescape(const std::string& option, const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes.push_back(text[i]);
      continue;
    }
    const char kind = i + 1 < text.size() ? text[++i] : '\0';
    if (kind == 'r' || kind == 'n' || kind == '\\') {
      bytes.push_back(kind == 'r' ? '\r' : kind == 'n' ? '\n' : '\\');
    } else if (kind == 'x' && i + 2 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      bytes.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      usage_error(option + ": unknown escape in " + text);
    }
  }
  return bytes;
}

struct Options {
  kestrel::sim::Behaviour behaviour;
  bool print_commands = false;
};

Options parse(int argc, char** argv) {
  using kestrel::sim::Framing;
  Options o;
  auto& b = o.behaviour;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        usage_error(arg + " needs a value");
      }
      return argv[++i];
    };
    if (arg == "--silent") {
      b.silent = true;
    } else if (arg == "--no-echo") {
      b.echo = false;
    } else if (arg == "--no-info") {
      b.answer_info = false;
    } else if (arg == "--greeting") {
      b.greeting = value();
    } else if (arg == "--chunk") {
      b.chunk_size = count(arg, value());
    } else if (arg == "--pause-ms") {
      b.chunk_pause = std::chrono::milliseconds(count(arg, value()));
    } else if (arg == "--split-prompt") {
      b.split_prompt = true;
    } else if (arg == "--prompt-pause-ms") {
      b.prompt_pause = std::chrono::milliseconds(count(arg, value()));
    } else if (arg == "--framing") {
      const std::string kind = value();
      if (kind == "good") {
        b.framing = Framing::Good;
      } else if (kind == "no-start") {
        b.framing = Framing::NoStart;
      } else if (kind == "wrong-end") {
        b.framing = Framing::WrongEnd;
      } else if (kind == "bad-marker") {
        b.framing = Framing::BadRecordMarker;
      } else {
        usage_error("unknown framing " + kind);
      }
    } else if (arg == "--bad-record") {
      b.bad_record = count(arg, value());
    } else if (arg == "--extra-records") {
      b.extra_records = static_cast<std::ptrdiff_t>(number(arg, value()));
    } else if (arg == "--levels") {
      std::istringstream list(value());
      for (std::string item; std::getline(list, item, ',');) {
        std::size_t code = count(arg, item.c_str());
        if (code > 0xFFFF) {
          usage_error("level codes go from 0 to 65535");
        }
        b.levels.push_back(static_cast<std::uint16_t>(code));
      }
    } else if (arg == "--hang-up-after") {
      b.hang_up_after = count(arg, value());
    } else if (arg == "--stall-after") {
      b.stall_after = count(arg, value());
    } else if (arg == "--hang-up-after-commands") {
      b.hang_up_after_commands = count(arg, value());
      if (b.hang_up_after_commands == 0u) {
        usage_error(arg + " needs a number of 1 or more");
      }
    } else if (arg == "--flood-after") {
      b.flood_after = value();
    } else if (arg == "--garbage") {
      b.garbage = unescape(arg, value());
    } else if (arg == "--twice") {
      b.answer_twice = true;
    } else if (arg == "--twice-pause-ms") {
      b.twice_pause = std::chrono::milliseconds(count(arg, value()));
    } else if (arg == "--print-commands") {
      o.print_commands = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      usage_error("unknown option " + arg);
    }
  }
  return o;
}

// A standard input worth watching for its end: not /dev/null or a file, which
// a background start gives and which would end the simulator at once.
bool stdin_can_close() {
  struct stat st {};
  return ::fstat(STDIN_FILENO, &st) == 0 &&
         (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || ::isatty(STDIN_FILENO));
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);

  // Blocked before the serving thread starts, so only signalfd sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  int signals = ::signalfd(-1, &stop_signals, SFD_CLOEXEC);
  if (signals < 0) {
    std::perror("tinysa-sim: signalfd");
    return 1;
  }

  try {
    kestrel::sim::Simulator sim(options.behaviour);
    std::cout << sim.port_name() << std::endl;

    const bool watch_stdin = stdin_can_close();
    std::size_t printed = 0;
    for (;;) {
      pollfd fds[2] = {{signals, POLLIN, 0}, {watch_stdin ? STDIN_FILENO : -1, POLLIN, 0}};
      int ready = ::poll(fds, 2, options.print_commands ? 50 : -1);
      if (ready < 0 && errno != EINTR) {
        break;
      }
      if (options.print_commands) {
        auto commands = sim.commands();
        for (; printed < commands.size(); ++printed) {
          std::cout << commands[printed] << std::endl;
        }
      }
      if (fds[0].revents != 0) {
        break;
      }
      if (fds[1].revents != 0) {
        char buf[256];
        if (::read(STDIN_FILENO, buf, sizeof buf) <= 0) {
          break;
        }
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "tinysa-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
