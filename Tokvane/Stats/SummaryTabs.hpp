#pragma once

#include <QWidget>

namespace tokvane {

class AppModel;
class Preferences;

// The popover's Stats and Models tabs. Each follows the model's summary and
// indexing progress and the preference of the summary unit, which the Stats
// tab's switch writes. The model and the preferences must outlive the tabs.
// A tab's natural height is its sizeHint at its width (the popover's
// content width until it is laid out); it calls updateGeometry whenever
// that height may have changed.
inline constexpr int statsContentWidth = 388;

QWidget* makeStatsTab(AppModel& model, Preferences& preferences, QWidget* parent);
QWidget* makeModelsTab(AppModel& model, Preferences& preferences, QWidget* parent);

}  // namespace tokvane
