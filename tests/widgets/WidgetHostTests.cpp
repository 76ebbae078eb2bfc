// The host on the offscreen platform: placing and removing widgets, their
// file and login entry, a damaged file, and rebuilding when the snapshot
// file is replaced.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "TokvaneWidgets/Host/DesktopWidgetWindow.hpp"
#include "TokvaneWidgets/Host/GalleryWindow.hpp"
#include "TokvaneWidgets/Host/InstanceFile.hpp"
#include "TokvaneWidgets/Host/WidgetHost.hpp"
#include "TokvaneWidgets/Views/WidgetView.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane::widgets {
namespace {

class WidgetHostTest : public ::testing::Test {
 protected:
  WidgetHost::Options options() {
    WidgetHost::Options o;
    o.instanceFile = dir / "config" / "widgets.json";
    o.snapshotDirectory = dir / "data" / "group";
    o.autostartEntry = dir / "config" / "autostart" / "app.tokvane.TokvaneWidgets.desktop";
    o.program = "/opt/tokvane/bin/tokvane-widgets";
    o.clock = [this] { return now; };
    return o;
  }

  static bool waitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }

  testing::TempDir dir;
  Date now = Snapshot::placeholder().generatedAt + 60;
};

TEST_F(WidgetHostTest, WithoutWidgetsShowsTheGalleryAndAddsFromIt) {
  WidgetHost host(options());
  host.start();
  ASSERT_NE(host.gallery(), nullptr);
  EXPECT_TRUE(host.gallery()->isVisible());
  EXPECT_EQ(host.widgetCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(*options().autostartEntry));
  // Without a stored snapshot the previews show the sample.
  EXPECT_FALSE(host.gallery()->preview(WidgetKind::large)->model().empty);

  host.gallery()->addButton(WidgetKind::medium)->click();
  host.gallery()->addButton(WidgetKind::small)->click();
  ASSERT_EQ(host.widgetCount(), 2);
  EXPECT_EQ(host.window(0)->size(), QSize(364, 170));
  EXPECT_EQ(host.window(1)->size(), QSize(170, 170));
  EXPECT_FALSE(host.window(0)->geometry().intersects(host.window(1)->geometry()));
  // No snapshot yet: the empty state.
  EXPECT_TRUE(host.window(0)->model().empty);

  const auto stored = InstanceFile::read(options().instanceFile);
  ASSERT_EQ(stored.instances.size(), 2u);
  EXPECT_EQ(stored.instances[0].kind, WidgetKind::medium);
  EXPECT_EQ(stored.instances[1].kind, WidgetKind::small);
  EXPECT_TRUE(std::filesystem::exists(*options().autostartEntry));
  EXPECT_NE(testing::readFile(*options().autostartEntry).find("Exec=/opt/tokvane/bin/tokvane-widgets\n"),
            std::string::npos);

  emit host.window(1)->providerChosen(ProviderID::codex);
  EXPECT_EQ(InstanceFile::read(options().instanceFile).instances[1].provider, ProviderID::codex);
  emit host.window(0)->moved(QPoint(12, 34));
  EXPECT_EQ(InstanceFile::read(options().instanceFile).instances[0].x, 12);

  bool idle = false;
  QObject::connect(&host, &WidgetHost::idle, [&] { idle = true; });
  host.gallery()->close();
  emit host.window(0)->removeRequested();
  ASSERT_TRUE(waitFor([&] { return host.widgetCount() == 1; }));
  emit host.window(0)->removeRequested();
  ASSERT_TRUE(waitFor([&] { return host.widgetCount() == 0; }));
  EXPECT_TRUE(InstanceFile::read(options().instanceFile).instances.empty());
  EXPECT_FALSE(std::filesystem::exists(*options().autostartEntry));
  EXPECT_TRUE(idle);
}

TEST_F(WidgetHostTest, StoredWidgetsComeBackWithTheirProvider) {
  InstanceFile::write(options().instanceFile, {{WidgetKind::small, 100, 120, ProviderID::codex},
                                               {WidgetKind::large, 300, 120, ProviderID::claude}});
  SnapshotStore(options().snapshotDirectory).write(Snapshot::placeholder());
  WidgetHost host(options());
  host.start();
  EXPECT_TRUE(host.gallery() == nullptr || !host.gallery()->isVisible());
  ASSERT_EQ(host.widgetCount(), 2);
  EXPECT_EQ(host.window(0)->pos(), QPoint(100, 120));
  EXPECT_EQ(host.window(0)->model().provider, ProviderID::codex);
  EXPECT_EQ(host.window(1)->model().rows.size(), 3u);
  // The sample's next reset lies 780 s after its generation; the small
  // widget (Codex) waits for its own reset or 900 s.
  EXPECT_EQ(host.timeline(1).reloadAt, Snapshot::placeholder().generatedAt + 780);
  EXPECT_EQ(host.timeline(0).reloadAt, now + 900);
  ASSERT_TRUE(host.wakeTimer().isActive());
  EXPECT_NEAR(host.wakeTimer().deadline() - Date::now(), 780 - 60, 5);  // on the wall clock
  // Claude's session resets within the hour: the large widget ticks.
  EXPECT_TRUE(host.ticking());
}

TEST_F(WidgetHostTest, DamagedFileMeansNoWidgetsAndIsKeptAside) {
  testing::writeFile(options().instanceFile, "{\"widgets\": [{\"kind\": ");
  WidgetHost host(options());
  ::testing::internal::CaptureStderr();
  host.start();
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(host.widgetCount(), 0);
  EXPECT_NE(log.find("damaged"), std::string::npos);
  auto aside = options().instanceFile;
  aside += ".damaged";
  EXPECT_EQ(testing::readFile(aside), "{\"widgets\": [{\"kind\": ");
  host.addWidget(WidgetKind::small);
  EXPECT_EQ(InstanceFile::read(options().instanceFile).instances.size(), 1u);
  EXPECT_EQ(testing::readFile(aside), "{\"widgets\": [{\"kind\": ");
}

TEST_F(WidgetHostTest, RebuildsWhenTheSnapshotIsReplacedAtomically) {
  InstanceFile::write(options().instanceFile, {{WidgetKind::medium, 0, 0, ProviderID::claude}});
  WidgetHost host(options());
  host.start();
  ASSERT_EQ(host.widgetCount(), 1);
  EXPECT_TRUE(host.window(0)->model().empty);
  const SnapshotStore store(options().snapshotDirectory);
  // The first write makes the folder; the second replaces the file.
  store.write(Snapshot::placeholder());
  ASSERT_TRUE(waitFor([&] { return !host.window(0)->model().empty; }));
  Snapshot changed = Snapshot::placeholder();
  changed.providers.pop_back();
  store.write(changed);
  ASSERT_TRUE(waitFor([&] { return host.window(0)->model().rows.size() == 2; }));
  changed.providers.pop_back();
  store.write(changed);
  EXPECT_TRUE(waitFor([&] { return host.window(0)->model().rows.size() == 1; }));
}

TEST_F(WidgetHostTest, EntriesFollowTheClockAndReloadWhenDue) {
  InstanceFile::write(options().instanceFile, {{WidgetKind::small, 0, 0, ProviderID::grok}});
  SnapshotStore(options().snapshotDirectory).write(Snapshot::placeholder());
  now = Snapshot::placeholder().generatedAt + 1000;
  WidgetHost host(options());
  host.start();
  ASSERT_EQ(host.timeline(0).entries.size(), 2u);
  EXPECT_EQ(host.timeline(0).reloadAt, now + 900);
  EXPECT_FALSE(host.window(0)->model().staleText);
  const int reloads = host.reloads();
  // Past the stale moment but before the reload: the second entry, no reload.
  now = Snapshot::placeholder().generatedAt + 1801;
  host.recheck();
  EXPECT_EQ(host.reloads(), reloads);
  EXPECT_TRUE(host.window(0)->model().staleText);
  // After a long suspend the reload is overdue: rebuilt at once.
  now = now + 20'000;
  host.recheck();
  EXPECT_EQ(host.reloads(), reloads + 1);
  EXPECT_EQ(host.timeline(0).entries.size(), 1u);
  EXPECT_EQ(host.timeline(0).reloadAt, now + 900);
}

TEST(WidgetViewRepaint, OnlyWhenWhatItShowsChanged) {
  WidgetView view(WidgetKind::small);
  SnapshotEntry entry = Timelines::placeholderEntry();
  entry.isSample = false;  // the session's countdown runs
  const Date at = entry.date;
  EXPECT_TRUE(view.setModel(makeWidgetModel(WidgetKind::small, entry), at));
  EXPECT_FALSE(view.setModel(makeWidgetModel(WidgetKind::small, entry), at));
  EXPECT_FALSE(view.setClock(at + 0.3));  // same second
  EXPECT_TRUE(view.setClock(at + 1.3));
  entry.isSample = true;  // fixed texts: the clock changes nothing
  EXPECT_TRUE(view.setModel(makeWidgetModel(WidgetKind::small, entry), at));
  EXPECT_FALSE(view.setClock(at + 60));
}

}  // namespace
}  // namespace tokvane::widgets
