#pragma once

// Fixture: the ground floor reaching up.
#include "lib/utils.h"
