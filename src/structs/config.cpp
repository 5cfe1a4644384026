#include "structs/config.hpp"
