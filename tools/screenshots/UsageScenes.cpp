// The popover on its Usage tab: two providers with live windows in each
// severity, a provider whose limits went stale, one that needs signing in,
// and the empty state that lists the watched folders.

#include <QLocale>
#include <cmath>

#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Popover/PopoverRoot.hpp"
#include "tests/interface/support/PopoverModel.hpp"
#include "tools/screenshots/Scene.hpp"

namespace tokvane::screenshots {
namespace {

using popovertest::PopoverModel;
using popovertest::waitUntil;

LimitWindow window(const char* id, const char* label, double used, double duration, Date resetsAt,
                   LimitSource source = LimitSource::live()) {
  return LimitWindow(id, label, used, duration, resetsAt, source);
}


// Sets up a model with `configure`, publishes once, and grabs the popover.
QImage renderPopover(Appearance appearance, const std::function<void(PopoverModel&, Date)>& configure,
                     bool rounded = false) {
  // Clock times as an American English user sees them.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  PopoverModel harness;
  harness.model->schedulePublish();
  waitUntil([&] { return harness.model->lastUpdated().has_value(); });
  const Date now = harness.model->lastUpdated().value_or(Date::now()) + 125;
  configure(harness, now);

  PopoverRoot root(*harness.model, harness.preferences, {}, harness.locations);
  root.setClock([now] { return now; });
  root.setRoundedCorners(rounded);
  root.setPalette(paletteFor(appearance));
  waitUntil([&] { return root.heights().total() > 0; }, 2000);
  // Let every layout settle, then size the popover as the controller would.
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  root.measure();
  root.resize(PopoverRoot::width, static_cast<int>(std::ceil(root.heights().total())));
  return grabWidget(root, appearance);
}

void severities(PopoverModel& harness, Date now) {
  harness.makePresent(ProviderID::claude);
  harness.makePresent(ProviderID::codex);
  ProviderLimits claude;
  claude.plan = "Max 5x";
  claude.windows = {window("session", "Session", 0.28, 18000, now + 2 * 3600 + 10 * 60),
                    window("weekly", "Weekly", 0.81, 604800, now + 3 * 86400 + 4 * 3600),
                    window("opus", "Weekly Opus", 0.12, 604800, now + 5 * 86400 + 9 * 3600)};
  ProviderLimits codex;
  codex.plan = "Plus";
  codex.windows = {window("session", "Session", 0.94, 18000, now + 47 * 60),
                   window("weekly", "Weekly", 0.45, 604800, now + 86400 * 2 + 3600)};
  codex.credits = Credits{"Credits", 12.5, std::nullopt, std::nullopt, false};
  harness.setLimits(ProviderID::claude, claude);
  harness.setLimits(ProviderID::codex, codex);
}

void staleProvider(PopoverModel& harness, Date now) {
  harness.makePresent(ProviderID::claude);
  harness.makePresent(ProviderID::codex);
  ProviderLimits claude;
  claude.plan = "Pro";
  claude.status = ProviderStatus::unreachable;
  claude.windows = {window("session", "Session", 0.52, 18000, now + 3 * 3600, LimitSource::stale(now - 1500)),
                    window("weekly", "Weekly", 0.33, 604800, now + 4 * 86400, LimitSource::stale(now - 1500))};
  ProviderLimits codex;
  codex.plan = "Plus";
  codex.windows = {window("session", "Session", 0.1, 18000, now + 4 * 3600, LimitSource::local(now - 900)),
                   window("weekly", "Weekly", 0.2, 604800, now - 60)};
  harness.setLimits(ProviderID::claude, claude);
  harness.setLimits(ProviderID::codex, codex);
}

void signInNeeded(PopoverModel& harness, Date now) {
  harness.makePresent(ProviderID::claude);
  harness.makePresent(ProviderID::grok);
  ProviderLimits claude;
  claude.status = ProviderStatus::signInNeeded;
  ProviderLimits grok;
  grok.status = ProviderStatus::unavailable;
  harness.setLimits(ProviderID::claude, claude);
  harness.setLimits(ProviderID::grok, grok);
  (void)now;
}

SceneRegistration usageSeverities("popover-usage-severities",
                                  [](Appearance a) { return renderPopover(a, severities); });
SceneRegistration usageStale("popover-usage-stale", [](Appearance a) { return renderPopover(a, staleProvider); });
SceneRegistration usageSignIn("popover-usage-signin", [](Appearance a) { return renderPopover(a, signInNeeded); });
// As it shows where a compositor draws translucent windows.
SceneRegistration usageRounded("popover-usage-rounded",
                               [](Appearance a) { return renderPopover(a, signInNeeded, true); });
SceneRegistration usageEmpty("popover-usage-empty", [](Appearance a) {
  return renderPopover(a, [](PopoverModel&, Date) {});
});

}  // namespace
}  // namespace tokvane::screenshots
