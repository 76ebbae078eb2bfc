#include "VuroSparkle/StandardUpdaterController.hpp"

#include <QDesktopServices>
#include <utility>

namespace vuro {

StandardUpdaterController::StandardUpdaterController(bool startingUpdater, QUrl releaseNotesURL)
    : started(startingUpdater), releaseNotes(std::move(releaseNotesURL)) {}

bool StandardUpdaterController::isStarted() const { return started; }

const QUrl& StandardUpdaterController::releaseNotesURL() const { return releaseNotes; }

void StandardUpdaterController::checkForUpdates() {
  if (releaseNotes.isValid() && !releaseNotes.isEmpty()) QDesktopServices::openUrl(releaseNotes);
}

}  // namespace vuro
