// The simulated TinySA as a program sees it: through the serial layer.
#include "sim/simulator.hpp"

#include <algorithm>

#include <gtest/gtest.h>

#include "serial/serial_port.hpp"

namespace kestrel::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// A program's side of the dialogue.
class Client {
 public:
  explicit Client(const Simulator& sim, std::chrono::milliseconds timeout = 500ms)
      : port_(open(sim.port_name(), timeout)) {}

  void send(const std::string& command) {
    auto n = write(command);
    ASSERT_TRUE(n.has_value());
    ASSERT_EQ(*n, command.size() + 1);
  }

  std::expected<std::size_t, IoError> write(const std::string& command) {
    return port_.write(bytes_of(command + "\r"));
  }

  // Everything up to and including the prompt "ch> " (or up to the first
  // failed read), with the pieces as the reads gave them.
  Bytes answer(std::vector<Bytes>* pieces = nullptr, std::size_t read_size = 1 << 16) {
    Bytes got;
    std::vector<std::uint8_t> buf(read_size);
    const auto prompt = bytes_of(kPrompt);
    while (!std::ranges::equal(got.size() >= prompt.size() ? got.end() - prompt.size() : got.end(),
                               got.end(), prompt.begin(), prompt.end())) {
      auto n = port_.read(buf);
      if (!n) {
        last_error_ = n.error();
        break;
      }
      got.insert(got.end(), buf.begin(), buf.begin() + *n);
      if (pieces) {
        pieces->emplace_back(buf.begin(), buf.begin() + *n);
      }
    }
    return got;
  }

  const std::optional<IoError>& last_error() const { return last_error_; }

 private:
  static serial::SerialPort open(const std::string& name, std::chrono::milliseconds timeout) {
    auto port = serial::SerialPort::open(name, 115200, timeout);
    if (!port) {
      ADD_FAILURE() << port.error().display();
      std::abort();
    }
    return std::move(*port);
  }

  serial::SerialPort port_;
  std::optional<IoError> last_error_;
};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

TEST(Simulator, HoldsTheDialogueAcrossOpensAndRecordsIt) {
  Simulator sim({.greeting = "tinySA ready\r\nch> "});
  {
    Client c(sim);
    EXPECT_EQ(c.answer(), bytes_of("tinySA ready\r\nch> "));
    c.send("version");
    EXPECT_EQ(c.answer(),
              concat({bytes_of("version\r\n"), bytes_of(kVersionText), bytes_of(kPrompt)}));
  }
  Client again(sim);
  again.send("info");
  EXPECT_EQ(again.answer(), concat({bytes_of("info\r\n"), bytes_of(kInfoText), bytes_of(kPrompt)}));
  again.send("mode high input");
  EXPECT_EQ(again.answer(), bytes_of("mode high input\r\nch> "));
  again.send("bogus 1");
  EXPECT_EQ(again.answer(), bytes_of("bogus 1\r\nbogus?\r\nch> "));

  EXPECT_EQ(sim.commands(),
            (std::vector<std::string>{"version", "info", "mode high input", "bogus 1"}));
}

TEST(Simulator, AnswersScanrawWithTheBlockOfLevels) {
  Simulator sim({.levels = {0, 4096, 65535}});
  Client c(sim);
  c.send("scanraw 240000000 960000000 101");
  const Bytes block = Simulator::scan_block(101, sim.behaviour());
  EXPECT_EQ(c.answer(),
            concat({bytes_of("scanraw 240000000 960000000 101\r\n"), block, bytes_of(kPrompt)}));

  ASSERT_EQ(block.size(), 1 + 101 * 3 + 1);
  EXPECT_EQ(block.front(), '{');
  EXPECT_EQ(block.back(), '}');
  for (std::size_t i = 0; i < 101; ++i) {
    const std::uint8_t* record = &block[1 + 3 * i];
    EXPECT_EQ(record[0], 'x');
    EXPECT_EQ(record[1] | record[2] << 8, sim.level_code(i));
  }
  EXPECT_EQ(sim.level_code(1), 4096);  // given codes first, then the shape
  EXPECT_EQ(sim.level_code(3), Simulator::shape_code(3));
  // The shape: floor near -90 dBm, peak near -50 dBm at index 50.
  auto dbm = [](std::uint16_t code) { return code / 32.0 - 128; };
  EXPECT_NEAR(dbm(Simulator::shape_code(10)), -90, 1);
  EXPECT_NEAR(dbm(Simulator::shape_code(50)), -50, 1);
  EXPECT_NEAR(dbm(Simulator::shape_code(150)), -50, 1);
}

TEST(Simulator, BadBlocksAreFramedAsAsked) {
  const std::size_t points = 20;
  Bytes no_start = Simulator::scan_block(points, {.framing = Framing::NoStart});
  EXPECT_EQ(no_start.size(), points * 3 + 1);
  EXPECT_EQ(std::count(no_start.begin(), no_start.end(), '{'), 0);

  EXPECT_EQ(Simulator::scan_block(points, {.framing = Framing::WrongEnd}).back(), ']');

  Bytes bad = Simulator::scan_block(points, {.framing = Framing::BadRecordMarker, .bad_record = 4});
  EXPECT_EQ(bad[1 + 3 * 3], 'x');
  EXPECT_EQ(bad[1 + 3 * 4], 'y');
  EXPECT_EQ(bad[1 + 3 * 5], 'x');

  EXPECT_EQ(Simulator::scan_block(points, {.extra_records = -5}).size(), 15 * 3 + 2);
  EXPECT_EQ(Simulator::scan_block(points, {.extra_records = 7}).size(), 27 * 3 + 2);
  EXPECT_EQ(Simulator::scan_block(points, {.extra_records = -50}).size(), 2u);
}

TEST(Simulator, ChunksAndSplitPromptArriveInPieces) {
  Simulator sim(
      {.chunk_size = 50, .chunk_pause = 20ms, .split_prompt = true, .prompt_pause = 200ms});
  Client c(sim, 1000ms);
  c.send("scanraw 1 2 30");  // 92 bytes of block: two chunks
  std::vector<Bytes> pieces;
  auto t0 = Clock::now();
  Bytes got = c.answer(&pieces);
  EXPECT_GE(Clock::now() - t0, 200ms);
  EXPECT_EQ(got,
            concat({bytes_of("scanraw 1 2 30\r\n"), Simulator::scan_block(30), bytes_of(kPrompt)}));
  ASSERT_GE(pieces.size(), 3u);
  EXPECT_EQ(pieces.back(), bytes_of("h> "));
  EXPECT_EQ(pieces[pieces.size() - 2].back(), 'c');
}

TEST(Simulator, MisbehavioursOfTheDialogue) {
  {
    Simulator sim({.echo = false, .answer_info = false});
    Client c(sim);
    c.send("version");
    EXPECT_EQ(c.answer(), concat({bytes_of(kVersionText), bytes_of(kPrompt)}));
    c.send("info");
    EXPECT_EQ(c.answer(), bytes_of(kPrompt));
  }
  Simulator silent({.silent = true});
  Client c(silent, 100ms);
  c.send("version");
  EXPECT_TRUE(c.answer().empty());
  ASSERT_TRUE(c.last_error().has_value());
  EXPECT_EQ(c.last_error()->kind(), IoErrorKind::TimedOut);
  EXPECT_TRUE(silent.wait_for_commands(1, 1000ms));
  EXPECT_EQ(silent.commands(), std::vector<std::string>{"version"});
}

TEST(Simulator, HangsUpInTheMiddleOfTheBlock) {
  Simulator sim({.hang_up_after = 100});
  Client c(sim, 3000ms);
  c.send("scanraw 1 2 101");
  auto t0 = Clock::now();
  Bytes got = c.answer();
  EXPECT_LT(Clock::now() - t0, 2500ms);
  Bytes expected = bytes_of("scanraw 1 2 101\r\n");
  Bytes block = Simulator::scan_block(101);
  expected.insert(expected.end(), block.begin(), block.begin() + 100);
  EXPECT_EQ(got, expected);
  ASSERT_TRUE(c.last_error().has_value());
  EXPECT_NE(c.last_error()->kind(), IoErrorKind::TimedOut);
  EXPECT_TRUE(sim.hung_up());
}

TEST(Simulator, StallsInTheMiddleOfTheBlockAndThenStaysSilent) {
  Simulator sim({.chunk_size = 16, .stall_after = 100});
  Client c(sim, 300ms);
  c.send("scanraw 1 2 101");
  Bytes expected = bytes_of("scanraw 1 2 101\r\n");
  Bytes block = Simulator::scan_block(101);
  expected.insert(expected.end(), block.begin(), block.begin() + 100);
  EXPECT_EQ(c.answer(), expected);
  ASSERT_TRUE(c.last_error().has_value());
  EXPECT_EQ(c.last_error()->kind(), IoErrorKind::TimedOut);
  EXPECT_TRUE(sim.stalled());
  EXPECT_FALSE(sim.hung_up());

  c.send("version");  // the line is up, but nothing answers any more
  EXPECT_TRUE(c.answer().empty());
  EXPECT_EQ(c.last_error()->kind(), IoErrorKind::TimedOut);
  EXPECT_TRUE(sim.wait_for_commands(2, 1000ms));
}

TEST(Simulator, SendsGarbageBeforeEveryEchoAndEveryAnswerTwice) {
  const std::string garbage("\0\xFF#~\x1B[2J", 8);
  Simulator sim({.garbage = garbage, .answer_twice = true, .twice_pause = 100ms});
  Client c(sim);
  c.send("version");
  const Bytes answer = concat(
      {bytes_of(garbage), bytes_of("version\r\n"), bytes_of(kVersionText), bytes_of(kPrompt)});
  EXPECT_EQ(c.answer(), answer);  // the first copy, alone
  EXPECT_EQ(c.answer(), answer);  // the second, after the pause
  c.send("scanraw 1 2 5");
  const Bytes block_answer = concat({bytes_of(garbage), bytes_of("scanraw 1 2 5\r\n"),
                                     Simulator::scan_block(5), bytes_of(kPrompt)});
  EXPECT_EQ(c.answer(), block_answer);
  EXPECT_EQ(c.answer(), block_answer);
  EXPECT_EQ(sim.commands(), (std::vector<std::string>{"version", "scanraw 1 2 5"}));
}

TEST(Simulator, HangsUpOnceTheLastCommandIsAnswered) {
  Simulator sim({.hang_up_after_commands = 2});
  Client c(sim);
  c.send("version");
  c.answer();
  c.send("info");
  EXPECT_EQ(c.answer(), concat({bytes_of("info\r\n"), bytes_of(kInfoText), bytes_of(kPrompt)}));
  // The hang-up is marked just before the line closes: writes fail from then on.
  const auto deadline = Clock::now() + 3s;
  std::expected<std::size_t, IoError> written = 0;
  while (written.has_value() && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
    written = c.write("repeat 1");
  }
  EXPECT_TRUE(sim.hung_up());
  ASSERT_FALSE(written.has_value());
  EXPECT_NE(written.error().kind(), IoErrorKind::TimedOut);
}

// The whole block, read as the scan reads it: no read waits out its time-out
// on the way, or the answer would stop short.
TEST(Simulator, StreamsTheLargestScanWithoutStalling) {
  Simulator sim;
  Client c(sim, 3000ms);
  c.send("scanraw 240000000 960000000 1000001");
  Bytes got = c.answer(nullptr, 64);
  EXPECT_FALSE(c.last_error().has_value()) << c.last_error()->display();
  const std::string echo = "scanraw 240000000 960000000 1000001\r\n";
  ASSERT_EQ(got.size(), echo.size() + 1 + 3'000'003 + 1 + kPrompt.size());
  EXPECT_EQ(Bytes(got.begin() + echo.size(), got.end() - kPrompt.size()),
            Simulator::scan_block(1'000'001));
}

}  // namespace
}  // namespace kestrel::sim
