#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <optional>
#include <vector>

#include "VuroSettings/LoginItemError.hpp"
#include "VuroSettings/XDGAutostart.hpp"
#include "VuroSettings/XDGAutostartLoginItem.hpp"

namespace vuro {
namespace {

const QByteArray kOn = "[Desktop Entry]\nType=Application\nName=App\nExec=/usr/bin/app\n";
const QByteArray kHidden = "[Desktop Entry]\nType=Application\nName=App\nExec=/usr/bin/app\nHidden=true\n";

TEST(XDGAutostart, HiddenIsReadFromTheMainGroupOnly) {
  struct Case {
    QByteArray entry;
    bool hidden;
  };
  const std::vector<Case> cases = {
      {kOn, false},
      {kHidden, true},
      {"[Desktop Entry]\nHidden=false\n", false},
      {"[Desktop Entry]\n  Hidden = true  \n", true},
      {"[Desktop Entry]\r\nName=App\r\nHidden=true\r\n", true},
      {"[Desktop Entry]\n# Hidden=true\n", false},
      {"[Desktop Entry]\nName=App\n[Desktop Action quit]\nHidden=true\n", false},
      {"[Desktop Entry]\nHiddenness=true\n", false},
      // Desktops that ignore it would still start the program.
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(XDGAutostart::isHidden(c.entry), c.hidden) << c.entry.constData();
}

TEST(XDGAutostart, TheFirstEntryFoundDecides) {
  using Entries = std::vector<std::optional<QByteArray>>;
  struct Case {
    const char* name;
    Entries entries;  // user's, then each system folder's
    bool on;
  };
  const std::vector<Case> cases = {
      {"no file", {std::nullopt, std::nullopt, std::nullopt}, false},
      {"user file", {kOn, std::nullopt, std::nullopt}, true},
      {"user file hidden", {kHidden, std::nullopt, std::nullopt}, false},
      {"system file only", {std::nullopt, kOn, std::nullopt}, true},
      {"system file only, hidden", {std::nullopt, kHidden, std::nullopt}, false},
      {"second system folder only", {std::nullopt, std::nullopt, kOn}, true},
      {"first system folder hides the second", {std::nullopt, kHidden, kOn}, false},
      {"both, user hides the system one", {kHidden, kOn, std::nullopt}, false},
      {"both, user's over a hidden system one", {kOn, kHidden, std::nullopt}, true},
      {"no folders at all", {}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(XDGAutostart::reportedState(c.entries), c.on) << c.name;
}

TEST(XDGAutostart, ChangesTouchOnlyTheUsersFile) {
  using Change = XDGAutostart::Change;
  struct Case {
    bool enable, userFile, systemFile;
    Change change;
  };
  const std::vector<Case> cases = {
      {true, false, false, Change::WriteEntry},
      {true, true, false, Change::WriteEntry},
      {true, false, true, Change::WriteEntry},
      {true, true, true, Change::WriteEntry},
      {false, false, false, Change::Nothing},
      {false, true, false, Change::RemoveUserFile},
      {false, false, true, Change::WriteHiddenEntry},
      {false, true, true, Change::WriteHiddenEntry},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XDGAutostart::changeFor(c.enable, c.userFile, c.systemFile), c.change)
        << c.enable << c.userFile << c.systemFile;
  }
}

TEST(XDGAutostart, FoldersFollowTheEnvironmentWithItsDefaults) {
  struct Case {
    std::optional<QString> configHome, configDirs;
    QString user;
    QStringList system;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, "/home/u/.config/autostart", {"/etc/xdg/autostart"}},
      {"/cfg", "/a:/b", "/cfg/autostart", {"/a/autostart", "/b/autostart"}},
      {"", "", "/home/u/.config/autostart", {"/etc/xdg/autostart"}},
      {"relative/cfg", "relative:/b::", "/home/u/.config/autostart", {"/b/autostart"}},
  };
  for (const Case& c : cases) {
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/home/u"));
    if (c.configHome) environment.insert(QStringLiteral("XDG_CONFIG_HOME"), *c.configHome);
    if (c.configDirs) environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), *c.configDirs);
    const auto folders = XDGAutostart::Folders::fromEnvironment(environment);
    EXPECT_EQ(folders.user, c.user);
    EXPECT_EQ(folders.system, c.system);
  }
}

TEST(XDGAutostart, TheEntryQuotesTheProgramAsTheExecKeyRequires) {
  struct Case {
    QString program;
    QByteArray execLine;
  };
  const std::vector<Case> cases = {
      {"/usr/bin/tokvane", "Exec=/usr/bin/tokvane\n"},
      {"/opt/My App/tokvane", "Exec=\"/opt/My App/tokvane\"\n"},
      {"/opt/a$b/x", "Exec=\"/opt/a\\\\$b/x\"\n"},
      {"/opt/50%/x", "Exec=/opt/50%%/x\n"},
      {"/opt/say \"hi\"/x", "Exec=\"/opt/say \\\\\"hi\\\\\"/x\"\n"},
  };
  for (const Case& c : cases) {
    const QByteArray entry = XDGAutostart::entryFor(QStringLiteral("Tokvane"), c.program, false);
    EXPECT_TRUE(entry.contains(c.execLine)) << entry.constData();
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\nType=Application\nName=Tokvane\n"));
    EXPECT_FALSE(XDGAutostart::isHidden(entry));
  }
  EXPECT_TRUE(XDGAutostart::isHidden(XDGAutostart::entryFor("Two\nLines", "/x", true)));
  EXPECT_TRUE(XDGAutostart::entryFor("Two\nLines", "/x", true).contains("Name=Two Lines\n"));
}

// A user folder and two system folders in a temporary place.
class AutostartFolders : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    folders.user = root.filePath("home/autostart");
    folders.system = {root.filePath("sys1/autostart"), root.filePath("sys2/autostart")};
  }

  static void put(const QString& folder, const QByteArray& entry) {
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(folder + "/" + kName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(entry);
  }

  QString userFile() const { return folders.user + "/" + kName; }

  XDGAutostartLoginItem item() const {
    return XDGAutostartLoginItem(kName, folders, QStringLiteral("Tokvane"),
                                 QStringLiteral("/usr/bin/tokvane"));
  }

  static inline const QString kName = QStringLiteral("app.example.Example.desktop");
  QTemporaryDir root;
  XDGAutostart::Folders folders;
};

TEST_F(AutostartFolders, TurningOnWritesTheUsersEntryAndOffRemovesIt) {
  auto login = item();
  EXPECT_FALSE(login.isEnabled());
  login.setEnabled(true);
  EXPECT_TRUE(login.isEnabled());
  QFile file(userFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), XDGAutostart::entryFor("Tokvane", "/usr/bin/tokvane", false));
  file.close();

  login.setEnabled(false);
  EXPECT_FALSE(login.isEnabled());
  EXPECT_FALSE(QFileInfo::exists(userFile()));
  login.setEnabled(false);  // nothing left to do
  EXPECT_FALSE(login.isEnabled());
}

TEST_F(AutostartFolders, ASystemEntryIsHiddenByTheUsersFileAndShownAgain) {
  put(folders.system[1], kOn);
  auto login = item();
  EXPECT_TRUE(login.isEnabled());
  login.setEnabled(false);
  EXPECT_FALSE(login.isEnabled());
  EXPECT_TRUE(QFileInfo::exists(userFile()));
  EXPECT_TRUE(QFileInfo::exists(folders.system[1] + "/" + kName));  // left alone
  login.setEnabled(true);
  EXPECT_TRUE(login.isEnabled());
}

TEST_F(AutostartFolders, AFolderThatCannotBeMadeIsARefusalNamingThePath) {
  // The user's config folder is a plain file: nothing can be created in it.
  QFile blocker(root.filePath("blocked"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  folders.user = root.filePath("blocked/autostart");
  auto login = item();
  try {
    login.setEnabled(true);
    FAIL() << "no refusal";
  } catch (const LoginItemError& error) {
    EXPECT_FALSE(error.localizedDescription().isEmpty());
    EXPECT_TRUE(error.description().contains(folders.user)) << error.description().toStdString();
  }
  EXPECT_FALSE(login.isEnabled());
}

}  // namespace
}  // namespace vuro
