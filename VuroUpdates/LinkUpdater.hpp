#pragma once

#include <QUrl>

#include "VuroUpdates/Updater.hpp"

namespace vuro {

// An updater that checks nowhere itself: it opens the page listing what
// changed in each version in the default browser.
class LinkUpdater : public Updater {
 public:
  explicit LinkUpdater(QUrl changelogURL);

  bool isAvailable() const override;
  void checkForUpdates() override;

  const QUrl changelogURL;
};

}  // namespace vuro
