#include "VuroSettings/XDGAutostart.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "VuroSettings/LoginItemError.hpp"

namespace vuro::XDGAutostart {

namespace {

QString autostartIn(const QString& configDir) { return configDir + QStringLiteral("/autostart"); }

std::optional<QByteArray> readEntry(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

// Quotes one argument of an Exec value: reserved characters put it in double
// quotes with ", `, $ and \ escaped; then the value's own escaping doubles
// each backslash, and a literal percent sign is written %%.
QString execArgument(const QString& argument) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool needsQuotes = argument.isEmpty();
  for (QChar c : argument) needsQuotes = needsQuotes || reserved.contains(c);
  QString quoted;
  if (needsQuotes) {
    quoted += QLatin1Char('"');
    for (QChar c : argument) {
      if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
          c == QLatin1Char('\\')) {
        quoted += QLatin1Char('\\');
      }
      quoted += c;
    }
    quoted += QLatin1Char('"');
  } else {
    quoted = argument;
  }
  quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
  return quoted;
}

QString oneLine(QString text) {
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  return text;
}

}  // namespace

Folders Folders::fromEnvironment(const QProcessEnvironment& environment) {
  Folders folders;
  QString home = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
  if (!QDir::isAbsolutePath(home)) {
    home = environment.value(QStringLiteral("HOME")) + QStringLiteral("/.config");
  }
  folders.user = autostartIn(home);
  QStringList dirs;
  for (const QString& dir :
       environment.value(QStringLiteral("XDG_CONFIG_DIRS")).split(QLatin1Char(':'))) {
    if (QDir::isAbsolutePath(dir)) dirs.append(dir);
  }
  if (dirs.isEmpty()) dirs.append(QStringLiteral("/etc/xdg"));
  for (const QString& dir : dirs) folders.system.append(autostartIn(dir));
  return folders;
}

bool isHidden(const QByteArray& entry) {
  bool inMainGroup = false;
  for (QByteArray line : entry.split('\n')) {
    line = line.trimmed();
    if (line.startsWith('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup || line.startsWith('#')) continue;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) continue;
    if (line.left(equals).trimmed() == "Hidden") return line.mid(equals + 1).trimmed() == "true";
  }
  return false;
}

bool reportedState(const std::vector<std::optional<QByteArray>>& entriesInOrder) {
  for (const auto& entry : entriesInOrder) {
    if (entry) return !isHidden(*entry);
  }
  return false;
}

bool reportedState(const Folders& folders, const QString& fileName) {
  std::vector<std::optional<QByteArray>> entries;
  entries.push_back(readEntry(folders.user + QLatin1Char('/') + fileName));
  for (const QString& dir : folders.system) {
    entries.push_back(readEntry(dir + QLatin1Char('/') + fileName));
  }
  return reportedState(entries);
}

Change changeFor(bool enable, bool userFileExists, bool systemFileExists) {
  if (enable) return Change::WriteEntry;
  if (systemFileExists) return Change::WriteHiddenEntry;
  if (userFileExists) return Change::RemoveUserFile;
  return Change::Nothing;
}

QByteArray entryFor(const QString& name, const QString& program, bool hidden) {
  QString entry = QStringLiteral("[Desktop Entry]\nType=Application\n");
  entry += QStringLiteral("Name=") + oneLine(name) + QLatin1Char('\n');
  entry += QStringLiteral("Exec=") + execArgument(program) + QLatin1Char('\n');
  if (hidden) entry += QStringLiteral("Hidden=true\n");
  return entry.toUtf8();
}

void setEnabled(const Folders& folders, const QString& fileName, bool enable, const QString& name,
                const QString& program) {
  const QString userPath = folders.user + QLatin1Char('/') + fileName;
  bool systemFileExists = false;
  for (const QString& dir : folders.system) {
    systemFileExists = systemFileExists || QFileInfo::exists(dir + QLatin1Char('/') + fileName);
  }
  const Change change = changeFor(enable, QFileInfo::exists(userPath), systemFileExists);
  switch (change) {
    case Change::Nothing:
      return;
    case Change::RemoveUserFile: {
      QFile file(userPath);
      if (!file.remove()) {
        throw LoginItemError(QStringLiteral("The autostart entry could not be removed."),
                             QStringLiteral("removing %1 failed: %2").arg(userPath, file.errorString()));
      }
      return;
    }
    case Change::WriteEntry:
    case Change::WriteHiddenEntry: {
      if (!QDir().mkpath(folders.user)) {
        throw LoginItemError(QStringLiteral("The autostart folder could not be created."),
                             QStringLiteral("creating the folder %1 failed").arg(folders.user));
      }
      QSaveFile file(userPath);
      const QByteArray entry = entryFor(name, program, change == Change::WriteHiddenEntry);
      if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit()) {
        throw LoginItemError(QStringLiteral("The autostart entry could not be written."),
                             QStringLiteral("writing %1 failed: %2").arg(userPath, file.errorString()));
      }
      return;
    }
  }
}

}  // namespace vuro::XDGAutostart
