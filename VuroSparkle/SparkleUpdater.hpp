#pragma once

#include <QUrl>
#include <QVariant>
#include <memory>

#include "VuroSparkle/StandardUpdaterController.hpp"
#include "VuroUpdates/Updater.hpp"

namespace vuro {

// The application's updater: always available (menus always offer "Check for
// Updates…"), whether or not its controller was started.
class SparkleUpdater final : public Updater {
 public:
  // Reads the build-time signing key and release notes page.
  SparkleUpdater();

  bool isAvailable() const override;
  void checkForUpdates() override;

  // Whether a signing key lets the updater start: it must be text, not empty,
  // and not a placeholder beginning with "REPLACE". A null variant is a key
  // that is missing.
  static bool shouldStart(const QVariant& publicEDKey);

  // The values fixed at build time.
  static QVariant buildPublicEDKey();
  static QUrl buildReleaseNotesURL();

  const std::unique_ptr<StandardUpdaterController> controller;
};

}  // namespace vuro
