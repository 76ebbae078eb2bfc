#pragma once

#include <QDBusConnection>
#include <QString>
#include <array>

namespace tokvane {

// What can be known of the tray host on the session bus. Hosts never say
// whether they show an item's text label; the ones that do are GNOME Shell's
// indicator extension (the watcher lives in the gnome-shell process) and the
// Ayatana/Canonical indicator services.
namespace StatusHost {

inline constexpr std::array<const char*, 2> labelServices = {"org.ayatana.indicator.application",
                                                             "com.canonical.indicator.application"};

// Whether a host shows labels, from the name of the watcher's process and
// whether an indicator service is on the bus.
bool showsLabels(const QString& watcherProcessName, bool indicatorServicePresent);

// The same, asked of the bus.
bool showsLabels(const QDBusConnection& bus);

// Whether a watcher is on the bus and says a host is registered with it.
bool watcherHasHost(const QDBusConnection& bus);

// The name (/proc/<pid>/comm) of the process that owns a bus name; empty
// when unknown.
QString ownerProcessName(const QDBusConnection& bus, const QString& service);

}  // namespace StatusHost

}  // namespace tokvane
