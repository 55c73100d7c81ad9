// Fixture: a relative include that climbs out of its folder.
#include "../core/dashboard_browser.h"
