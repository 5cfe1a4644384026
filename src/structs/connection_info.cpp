#include "structs/connection_info.hpp"
