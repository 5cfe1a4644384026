#include "structs/shared_cell.hpp"

#include <fmt/format.h>

namespace kestrel {

PoisonedCell::PoisonedCell(const std::source_location& where)
    : std::runtime_error(fmt::format("lock poisoned: {}:{}:{}", where.file_name(), where.line(),
                                     where.column())) {}

}  // namespace kestrel
