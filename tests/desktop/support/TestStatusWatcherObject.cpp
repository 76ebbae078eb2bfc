#include "tests/desktop/support/TestStatusWatcherObject.hpp"
