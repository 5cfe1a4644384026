#include "structs/debug_form.hpp"
