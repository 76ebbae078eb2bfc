// Dark and light: the portal's colour scheme and the widgets' colours.

#include <gtest/gtest.h>

#include <QDBusVariant>

#include "TokvaneWidgets/Bus/AppearanceWatcher.hpp"
#include "TokvaneWidgets/Theme/WidgetPalette.hpp"

namespace tokvane::widgets {
namespace {

TEST(PortalColourScheme, NumbersWrappedOrNot) {
  const QVariant twice = QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(1u)))));
  const struct {
    QVariant value;
    std::optional<WidgetAppearance> appearance;
  } cases[] = {
      {QVariant(1u), WidgetAppearance::dark},
      {QVariant(2u), WidgetAppearance::light},
      {QVariant(0u), std::nullopt},
      {QVariant(7u), std::nullopt},
      {QVariant(QStringLiteral("dark")), std::nullopt},
      {QVariant(), std::nullopt},
      {twice, WidgetAppearance::dark},
      {QVariant::fromValue(QDBusVariant(QVariant(2u))), WidgetAppearance::light},
  };
  for (const auto& c : cases) EXPECT_EQ(AppearanceWatcher::fromPortalValue(c.value), c.appearance);
}

TEST(WidgetColours, PaletteRoundTripAndAccents) {
  for (auto appearance : {WidgetAppearance::light, WidgetAppearance::dark}) {
    EXPECT_EQ(appearanceOf(paletteFor(appearance)), appearance);
  }
  const WidgetColors light = WidgetColors::of(WidgetAppearance::light);
  EXPECT_EQ(light.accent(accent(ProviderID::claude)).name(), QStringLiteral("#d97757"));
  EXPECT_EQ(light.accent(accent(ProviderID::codex)), light.primary);
  EXPECT_EQ(light.accent(accent(ProviderID::grok)), light.secondary);
  EXPECT_EQ(light.accent(accent(ProviderID::cursor)), light.secondary);
}

}  // namespace
}  // namespace tokvane::widgets
