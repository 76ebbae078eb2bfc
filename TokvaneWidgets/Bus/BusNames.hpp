#pragma once

// The session-bus names the widget program and the application share.
namespace tokvane::widgets::BusNames {

// The refresh request: signal Posted(s name) with this name as argument.
inline constexpr const char* refreshNotification = "app.tokvane.refresh";
inline constexpr const char* notificationsPath = "/app/tokvane/Notifications";
inline constexpr const char* notificationsInterface = "app.tokvane.Notifications";
inline constexpr const char* postedSignal = "Posted";

// The application's request to rebuild every widget timeline.
inline constexpr const char* widgetsPath = "/app/tokvane/Widgets";
inline constexpr const char* widgetsInterface = "app.tokvane.Widgets";
inline constexpr const char* reloadSignal = "ReloadAllTimelines";

// This program's single instance.
inline constexpr const char* instanceService = "app.tokvane.TokvaneWidgets";
inline constexpr const char* instancePath = "/app/tokvane/TokvaneWidgets";
inline constexpr const char* instanceInterface = "app.tokvane.TokvaneWidgets";
inline constexpr const char* showGalleryMethod = "ShowGallery";

// The application, which answers "tokvane://open" by opening its popover.
inline constexpr const char* applicationService = "app.tokvane.Tokvane";
inline constexpr const char* applicationPath = "/app/tokvane/Tokvane";
inline constexpr const char* freedesktopApplication = "org.freedesktop.Application";
inline constexpr const char* openURL = "tokvane://open";

}  // namespace tokvane::widgets::BusNames
