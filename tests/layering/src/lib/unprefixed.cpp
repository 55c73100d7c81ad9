// Fixture: a project include that does not name its module.
#include "utils.h"
