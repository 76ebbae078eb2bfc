#include "TokvaneCore/Foundation/TextCase.hpp"

namespace tokvane {

std::string capitalizingFirstLetter(std::string_view text) {
  std::string result(text);
  if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') {
    result[0] = static_cast<char>(result[0] - 'a' + 'A');
  }
  return result;
}

}  // namespace tokvane
