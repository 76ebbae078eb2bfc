#include "Tokvane/StatusItem/StatusItemBackend.hpp"
