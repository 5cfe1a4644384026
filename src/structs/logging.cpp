#include "structs/logging.hpp"
