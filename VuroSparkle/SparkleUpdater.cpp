#include "VuroSparkle/SparkleUpdater.hpp"

#include <QMetaType>
#include <QString>

namespace vuro {

SparkleUpdater::SparkleUpdater()
    : controller(std::make_unique<StandardUpdaterController>(shouldStart(buildPublicEDKey()),
                                                             buildReleaseNotesURL())) {}

bool SparkleUpdater::isAvailable() const { return true; }

void SparkleUpdater::checkForUpdates() { controller->checkForUpdates(); }

bool SparkleUpdater::shouldStart(const QVariant& publicEDKey) {
  if (publicEDKey.metaType() != QMetaType::fromType<QString>()) return false;
  const QString key = publicEDKey.toString();
  return !key.isEmpty() && !key.startsWith(QStringLiteral("REPLACE"));
}

QVariant SparkleUpdater::buildPublicEDKey() {
  return QVariant(QString::fromUtf8(VURO_SPARKLE_PUBLIC_ED_KEY));
}

QUrl SparkleUpdater::buildReleaseNotesURL() {
  return QUrl(QString::fromUtf8(VURO_SPARKLE_RELEASE_NOTES_URL));
}

}  // namespace vuro
