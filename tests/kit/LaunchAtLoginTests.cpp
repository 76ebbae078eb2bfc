#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <stdexcept>
#include <vector>

#include "VuroSettings/LaunchAtLogin.hpp"
#include "VuroSettings/LoginItemError.hpp"
#include "VuroSettings/XDGAutostartLoginItem.hpp"

namespace vuro {
namespace {

// A login item whose answers the test sets: what it reports, and whether the
// next changes are refused (and what it reports after a refusal).
class FakeLoginItem : public LoginItemService {
 public:
  bool isEnabled() const override { return reported; }
  void setEnabled(bool enabled) override {
    calls.push_back(enabled);
    if (refuse) {
      if (reportAfterRefusal) reported = *reportAfterRefusal;
      if (plainException) throw std::runtime_error("plain failure");
      throw LoginItemError(QStringLiteral("Not allowed."),
                           QStringLiteral("register(app) failed: code 1 (Not allowed.)"));
    }
    reported = enabled;
  }

  bool reported = false;
  bool refuse = false;
  bool plainException = false;
  std::optional<bool> reportAfterRefusal;
  std::vector<bool> calls;
};

class LaunchAtLoginTest : public testing::Test {
 protected:
  void make() {
    model = std::make_unique<LaunchAtLogin>(service, [this](const QString& line) { log.push_back(line); });
    QObject::connect(model.get(), &LaunchAtLogin::isEnabledChanged,
                     [this](bool value) { told.push_back(value); });
  }

  std::shared_ptr<FakeLoginItem> service = std::make_shared<FakeLoginItem>();
  std::unique_ptr<LaunchAtLogin> model;
  std::vector<QString> log;
  std::vector<bool> told;
};

TEST_F(LaunchAtLoginTest, StartsFromTheServiceWithoutAskingItAnything) {
  service->reported = true;
  make();
  EXPECT_TRUE(model->isEnabled());
  EXPECT_FALSE(model->lastError().has_value());
  EXPECT_TRUE(service->calls.empty());
}

TEST_F(LaunchAtLoginTest, SettingTheCurrentValueCallsNothing) {
  make();
  model->setEnabled(false);
  EXPECT_TRUE(service->calls.empty());
  EXPECT_TRUE(told.empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(LaunchAtLoginTest, ASuccessfulChangeIsSentOnce) {
  make();
  model->setEnabled(true);
  EXPECT_EQ(service->calls, std::vector<bool>{true});
  EXPECT_TRUE(model->isEnabled());
  EXPECT_EQ(told, std::vector<bool>{true});
  EXPECT_TRUE(log.empty());
}

TEST_F(LaunchAtLoginTest, ARefusalShowsTheReportedStateKeepsTheErrorAndLogsOneLine) {
  make();
  service->refuse = true;
  model->setEnabled(true);
  EXPECT_EQ(service->calls, std::vector<bool>{true});
  EXPECT_FALSE(model->isEnabled());
  EXPECT_EQ(model->lastError(), QStringLiteral("Not allowed."));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], QStringLiteral("launch at login change failed: register(app) failed: code 1 (Not allowed.)"));
  // The switch moved, then came back; the correction was not sent.
  EXPECT_EQ(told, (std::vector<bool>{true, false}));

  // The next successful change clears the error.
  service->refuse = false;
  model->setEnabled(true);
  EXPECT_TRUE(model->isEnabled());
  EXPECT_FALSE(model->lastError().has_value());
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(LaunchAtLoginTest, ARefusalThatStillReportsTheRequestedStateKeepsIt) {
  make();
  service->refuse = true;
  service->reportAfterRefusal = true;
  model->setEnabled(true);
  EXPECT_TRUE(model->isEnabled());
  EXPECT_TRUE(model->lastError().has_value());
  EXPECT_EQ(told, std::vector<bool>{true});
}

TEST_F(LaunchAtLoginTest, AnyOtherFailureIsLoggedWithItsText) {
  make();
  service->refuse = true;
  service->plainException = true;
  model->setEnabled(true);
  EXPECT_EQ(model->lastError(), QStringLiteral("plain failure"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], QStringLiteral("launch at login change failed: plain failure"));
}

TEST_F(LaunchAtLoginTest, RefreshPicksUpAnOutsideChangeWithoutSendingIt) {
  service->reported = true;
  make();
  service->refuse = true;
  model->setEnabled(false);  // refused: still on, error kept
  ASSERT_TRUE(model->lastError().has_value());
  service->reported = false;  // removed elsewhere
  const size_t callsBefore = service->calls.size();
  model->refresh();
  EXPECT_FALSE(model->isEnabled());
  EXPECT_EQ(service->calls.size(), callsBefore);
  EXPECT_TRUE(model->lastError().has_value());
  told.clear();
  model->refresh();  // nothing changed: nobody is told
  EXPECT_TRUE(told.empty());
}

TEST_F(LaunchAtLoginTest, ObserversThatSetTheSwitchBackDoNotReachTheService) {
  make();
  service->refuse = true;
  // A switch bound both ways writes every change it is told back.
  QObject::connect(model.get(), &LaunchAtLogin::isEnabledChanged, model.get(),
                   [this](bool value) { model->setEnabled(value); });
  model->setEnabled(true);
  EXPECT_EQ(service->calls, std::vector<bool>{true});
  EXPECT_FALSE(model->isEnabled());
}

TEST(LaunchAtLoginAutostart, ARefusedWriteLeavesTheSwitchAtTheReportedState) {
  QTemporaryDir root;
  QFile blocker(root.filePath("config"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  XDGAutostart::Folders folders{root.filePath("config/autostart"), {root.filePath("etc/autostart")}};
  auto item = std::make_shared<XDGAutostartLoginItem>(QStringLiteral("app.example.Example.desktop"),
                                                      folders, QStringLiteral("Example"),
                                                      QStringLiteral("/usr/bin/example"));
  std::vector<QString> log;
  LaunchAtLogin model(item, [&](const QString& line) { log.push_back(line); });
  model.setEnabled(true);
  EXPECT_FALSE(model.isEnabled());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].startsWith(QStringLiteral("launch at login change failed: ")));
  EXPECT_TRUE(log[0].contains(folders.user));
  ASSERT_TRUE(model.lastError().has_value());
  EXPECT_FALSE(model.lastError()->contains(folders.user));
}

}  // namespace
}  // namespace vuro
