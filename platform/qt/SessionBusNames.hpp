#pragma once

// The session-bus names the application and its widget program share.
namespace tokvane::SessionBusNames {

// The application's id: its bus name, its .desktop file's name.
inline constexpr const char* applicationID = "app.tokvane.Tokvane";
inline constexpr const char* applicationPath = "/app/tokvane/Tokvane";
// The widget program's instance.
inline constexpr const char* widgetsID = "app.tokvane.TokvaneWidgets";

// Named notifications: the signal Posted(s name). Member names cannot hold
// dots, so the name travels as the argument.
inline constexpr const char* notificationsPath = "/app/tokvane/Notifications";
inline constexpr const char* notificationsInterface = "app.tokvane.Notifications";
inline constexpr const char* notificationsSignal = "Posted";

// Reload of every widget timeline: the signal ReloadAllTimelines().
inline constexpr const char* widgetsPath = "/app/tokvane/Widgets";
inline constexpr const char* widgetsInterface = "app.tokvane.Widgets";
inline constexpr const char* widgetsReloadSignal = "ReloadAllTimelines";

}  // namespace tokvane::SessionBusNames
