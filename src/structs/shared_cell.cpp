#include "structs/shared_cell.hpp"
