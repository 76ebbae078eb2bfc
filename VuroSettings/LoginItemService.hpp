#pragma once

namespace vuro {

// Whether the application opens when the user logs in. `setEnabled` throws
// the refusal (a LoginItemError, or any std::exception) when the change
// cannot be made.
class LoginItemService {
 public:
  virtual ~LoginItemService();

  virtual bool isEnabled() const = 0;
  virtual void setEnabled(bool enabled) = 0;
};

}  // namespace vuro
