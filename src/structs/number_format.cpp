#include "structs/number_format.hpp"
