#pragma once

namespace vuro {

// How an application looks for a newer version of itself. `isAvailable` says
// whether the check happens inside the application (menus offer "Check for
// Updates…" only then); `checkForUpdates` starts one.
class Updater {
 public:
  virtual ~Updater();

  virtual bool isAvailable() const = 0;
  virtual void checkForUpdates() = 0;
};

}  // namespace vuro
