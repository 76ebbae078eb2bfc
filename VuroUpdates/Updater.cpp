#include "VuroUpdates/Updater.hpp"

namespace vuro {

Updater::~Updater() = default;

}  // namespace vuro
