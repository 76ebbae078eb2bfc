#include "VuroSettings/LoginItemService.hpp"

namespace vuro {

LoginItemService::~LoginItemService() = default;

}  // namespace vuro
