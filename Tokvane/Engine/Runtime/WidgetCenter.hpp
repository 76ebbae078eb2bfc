#pragma once

namespace tokvane {

// Asks the widget host to rebuild every widget timeline of the application.
class WidgetCenter {
 public:
  virtual ~WidgetCenter() = default;
  virtual void reloadAllTimelines() = 0;
};

}  // namespace tokvane
