// The prompt search of the reply and scan-block readers over arbitrary bytes
// cut into arbitrary reads. Fed chunk by chunk, as read_reply and
// read_scan_block feed it, the finder must stop at the chunk that completes
// the first "ch>" of the whole stream and keep exactly the bytes before it;
// without a prompt it keeps every byte. The progress the block reader
// publishes before each chunk stays within 20..99 and never falls.
//
// Input: the last bytes choose the block's point count and each read's size
// (1..256, as a port read gives), the first bytes are the stream.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "scan/command.hpp"
#include "scan/scan_block.hpp"

namespace {

using kestrel::fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto points = input.ConsumeIntegral<std::uint64_t>();
  std::vector<std::vector<std::uint8_t>> chunks;
  while (input.remaining_bytes() > 0) {
    const auto length = input.ConsumeIntegralInRange<std::size_t>(1, 256);
    auto chunk = input.ConsumeBytes<std::uint8_t>(length);
    if (chunk.empty())
      break;
    chunks.push_back(std::move(chunk));
  }

  std::vector<std::uint8_t> stream;
  for (const auto& chunk : chunks)
    stream.insert(stream.end(), chunk.begin(), chunk.end());
  const std::string_view prompt = kestrel::reply_prompt;
  const auto at = std::search(stream.begin(), stream.end(), prompt.begin(), prompt.end());
  const bool has_prompt = at != stream.end();
  const auto before = static_cast<std::size_t>(at - stream.begin());

  const kestrel::PromptFinder& finder = kestrel::reply_end_finder();
  const std::uint64_t expected = kestrel::expected_block_length(points);
  std::vector<std::uint8_t> received;
  std::uint64_t last_progress = 0;
  std::size_t fed = 0, last_read = 0;
  bool found = false;
  for (const auto& chunk : chunks) {
    const std::uint64_t progress = kestrel::block_progress(received.size(), expected);
    check(progress >= 20 && progress <= 99, "progress stays within 20..99");
    check(progress >= last_progress, "progress never falls");
    last_progress = progress;
    fed += chunk.size();
    last_read = chunk.size();
    found = finder.append_until_prompt(received, chunk);
    if (found)
      break;
    check(received.size() == fed, "without a prompt every byte is kept");
  }
  check(found == has_prompt, "the prompt is found exactly when the stream has one");
  if (has_prompt) {
    check(fed >= before + prompt.size() && fed - last_read < before + prompt.size(),
          "the search stops at the read that completes the prompt");
    check(std::equal(received.begin(), received.end(), stream.begin(), at) &&
              received.size() == before,
          "the reply is exactly the bytes before the first prompt");
  } else {
    check(received == stream, "a reply without prompt keeps every byte");
  }
  return 0;
}
