#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <vector>

#include "VuroSparkle/SparkleUpdater.hpp"
#include "VuroUpdates/LinkUpdater.hpp"

namespace vuro {
namespace {

// Stands in for the browser: every web address the code opens lands here.
class OpenedPages : public QObject {
  Q_OBJECT

 public:
  OpenedPages() {
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
  }
  ~OpenedPages() override {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  }

  std::vector<QUrl> urls;

 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

TEST(SparkleUpdater, StartsOnlyWithARealSigningKey) {
  struct Case {
    QVariant key;
    bool starts;
  };
  const std::vector<Case> cases = {
      {QVariant(), false},                              // missing
      {QVariant(42), false},                            // not text
      {QVariant(QStringList{"abc"}), false},            // not text
      {QVariant(QString()), false},                     // empty
      {QVariant(QStringLiteral("REPLACE")), false},     // placeholder
      {QVariant(QStringLiteral("REPLACE_WITH_YOUR_KEY")), false},
      {QVariant(QStringLiteral("pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ=")), true},
      {QVariant(QStringLiteral("replace-me")), true},   // the test is case-sensitive
      {QVariant(QStringLiteral(" REPLACE")), true},     // and anchored at the start
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SparkleUpdater::shouldStart(c.key), c.starts) << c.key.toString().toStdString();
  }
}

TEST(SparkleUpdater, IsAlwaysAvailableAndStartsAsTheBuiltInKeySays) {
  SparkleUpdater updater;
  EXPECT_TRUE(updater.isAvailable());
  EXPECT_EQ(updater.controller->isStarted(),
            SparkleUpdater::shouldStart(SparkleUpdater::buildPublicEDKey()));
  // The default build carries no key: the updater is not started, and is
  // still available.
  if (SparkleUpdater::buildPublicEDKey().toString().isEmpty()) {
    EXPECT_FALSE(updater.controller->isStarted());
  }
  EXPECT_EQ(updater.controller->releaseNotesURL(), SparkleUpdater::buildReleaseNotesURL());
}

TEST(SparkleUpdater, ACheckOpensTheReleaseNotesPageEvenWhenNotStarted) {
  OpenedPages pages;
  SparkleUpdater updater;
  updater.checkForUpdates();
  const QUrl notes = SparkleUpdater::buildReleaseNotesURL();
  if (notes.isEmpty()) {
    EXPECT_TRUE(pages.urls.empty());
  } else {
    EXPECT_EQ(pages.urls, std::vector<QUrl>{notes});
  }
}

TEST(StandardUpdaterController, WithoutAReleaseNotesPageACheckOpensNothing) {
  OpenedPages pages;
  StandardUpdaterController controller(true, QUrl());
  controller.checkForUpdates();
  EXPECT_TRUE(pages.urls.empty());
  StandardUpdaterController withPage(false, QUrl(QStringLiteral("https://example.org/notes")));
  withPage.checkForUpdates();
  EXPECT_EQ(pages.urls, std::vector<QUrl>{QUrl(QStringLiteral("https://example.org/notes"))});
}

TEST(LinkUpdater, IsNeverAvailableAndOpensOnlyItsChangelog) {
  OpenedPages pages;
  const QUrl changelog(QStringLiteral("https://example.org/app/changes#latest"));
  LinkUpdater updater(changelog);
  EXPECT_FALSE(updater.isAvailable());
  EXPECT_EQ(updater.changelogURL, changelog);
  updater.checkForUpdates();
  EXPECT_EQ(pages.urls, std::vector<QUrl>{changelog});
  updater.checkForUpdates();
  EXPECT_EQ(pages.urls.size(), 2u);
}

}  // namespace
}  // namespace vuro

#include "UpdaterTests.moc"
