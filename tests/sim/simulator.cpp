// Placeholder: the serving thread follows.
#include "sim/simulator.hpp"

#include <stdexcept>

namespace kestrel::sim {

Simulator::Simulator(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  throw std::runtime_error("simulator not built yet");
}
Simulator::~Simulator() = default;
std::vector<std::string> Simulator::commands() const {
  return {};
}
bool Simulator::wait_for_commands(std::size_t, std::chrono::milliseconds) const {
  return false;
}
bool Simulator::hung_up() const {
  return false;
}
std::uint16_t Simulator::level_code(std::size_t index) const {
  return shape_code(index);
}
std::uint16_t Simulator::shape_code(std::size_t) {
  return 0;
}
std::vector<std::uint8_t> Simulator::scan_block(std::size_t, const Behaviour&) {
  return {};
}

}  // namespace kestrel::sim
