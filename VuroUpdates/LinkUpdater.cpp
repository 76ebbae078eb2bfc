#include "VuroUpdates/LinkUpdater.hpp"

#include <QDesktopServices>
#include <utility>

namespace vuro {

LinkUpdater::LinkUpdater(QUrl changelogURL) : changelogURL(std::move(changelogURL)) {}

bool LinkUpdater::isAvailable() const { return false; }

void LinkUpdater::checkForUpdates() { QDesktopServices::openUrl(changelogURL); }

}  // namespace vuro
