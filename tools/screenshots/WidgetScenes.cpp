// The desktop widgets: the three kinds over the sample, over a stored
// snapshot that has gone stale, in the empty state, and the gallery.

#include <QPainter>

#include "TokvaneWidgets/Display/WidgetModel.hpp"
#include "TokvaneWidgets/Host/GalleryWindow.hpp"
#include "TokvaneWidgets/Theme/WidgetPalette.hpp"
#include "TokvaneWidgets/Timeline/Timelines.hpp"
#include "TokvaneWidgets/Views/WidgetView.hpp"
#include "tools/screenshots/Scene.hpp"

namespace tokvane::screenshots {
namespace {

using widgets::WidgetKind;

// A stored snapshot 40 minutes old: the sample's data, a carried-over
// (stale) window for Codex and Grok unreachable, seen 2,400 s later.
widgets::SnapshotEntry staleEntry(ProviderID provider) {
  Snapshot snapshot = Snapshot::placeholder();
  const Date generated = snapshot.generatedAt;
  for (auto& entry : snapshot.providers) {
    if (entry.id == ProviderID::claude) {
      entry.windows[0].resetsAt = generated + 5400;
      entry.windows[0].usedFraction = 0.64;
    }
    if (entry.id == ProviderID::codex) {
      entry.windows[0].source = LimitSource::stale(generated - 600);
    }
    if (entry.id == ProviderID::grok) entry.status = ProviderStatus::unreachable;
  }
  return widgets::SnapshotEntry{generated + 2400, snapshot, provider, false};
}

widgets::SnapshotEntry noLimitsEntry() {
  Snapshot snapshot = Snapshot::placeholder();
  for (auto& entry : snapshot.providers) {
    if (entry.id == ProviderID::codex) {
      entry.windows.clear();
      entry.status = ProviderStatus::rateLimited;
    }
  }
  return widgets::SnapshotEntry{snapshot.generatedAt, snapshot, ProviderID::codex, false};
}

QImage render(WidgetKind kind, const widgets::SnapshotEntry& entry, Appearance appearance) {
  widgets::WidgetView view(kind);
  view.setModel(widgets::makeWidgetModel(kind, entry), entry.date);
  return grabWidget(view, appearance);
}

QImage gallery(Appearance appearance) {
  widgets::GalleryWindow window;
  window.setPalette(widgets::paletteFor(appearance == Appearance::dark ? widgets::WidgetAppearance::dark
                                                                       : widgets::WidgetAppearance::light));
  const auto entry = widgets::Timelines::sampleEntry(std::nullopt, ProviderID::claude, Date{});
  window.setPreview(entry, entry.date);
  window.setAutoFillBackground(true);
  window.resize(window.sizeHint());
  QImage image = grabWidget(window, appearance);
  return image;
}

const auto sample = [](ProviderID provider) {
  auto entry = widgets::Timelines::placeholderEntry();
  entry.provider = provider;
  return entry;
};

SceneRegistration smallSample("widget-small-sample",
                              [](Appearance a) { return render(WidgetKind::small, sample(ProviderID::claude), a); });
SceneRegistration mediumSample("widget-medium-sample",
                               [](Appearance a) { return render(WidgetKind::medium, sample(ProviderID::claude), a); });
SceneRegistration largeSample("widget-large-sample",
                              [](Appearance a) { return render(WidgetKind::large, sample(ProviderID::claude), a); });
SceneRegistration smallStale("widget-small-stale",
                             [](Appearance a) { return render(WidgetKind::small, staleEntry(ProviderID::claude), a); });
SceneRegistration mediumStale("widget-medium-stale",
                              [](Appearance a) { return render(WidgetKind::medium, staleEntry(ProviderID::claude), a); });
SceneRegistration largeStale("widget-large-stale",
                             [](Appearance a) { return render(WidgetKind::large, staleEntry(ProviderID::claude), a); });
SceneRegistration smallNoLimits("widget-small-nolimits",
                                [](Appearance a) { return render(WidgetKind::small, noLimitsEntry(), a); });
SceneRegistration smallEmpty("widget-small-empty", [](Appearance a) {
  return render(WidgetKind::small, widgets::SnapshotEntry{Date{}, std::nullopt, ProviderID::claude, false}, a);
});
SceneRegistration mediumEmpty("widget-medium-empty", [](Appearance a) {
  return render(WidgetKind::medium, widgets::SnapshotEntry{Date{}, std::nullopt, ProviderID::claude, false}, a);
});
SceneRegistration largeEmpty("widget-large-empty", [](Appearance a) {
  return render(WidgetKind::large, widgets::SnapshotEntry{Date{}, std::nullopt, ProviderID::claude, false}, a);
});
SceneRegistration gallerySheet("widget-gallery", gallery);

}  // namespace
}  // namespace tokvane::screenshots
