#pragma once

#include <QUrl>

namespace vuro {

// The updater controller of a program that its package manager updates: it
// keeps whether it was started, and a check opens the release notes page in
// the default browser (nothing when there is none).
class StandardUpdaterController {
 public:
  StandardUpdaterController(bool startingUpdater, QUrl releaseNotesURL);

  bool isStarted() const;
  const QUrl& releaseNotesURL() const;

  void checkForUpdates();

 private:
  bool started;
  QUrl releaseNotes;
};

}  // namespace vuro
