#include "structs/errors.hpp"
