#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>

#include "Tokvane/StatusItem/DBusMenuExporter.hpp"
#include "Tokvane/StatusItem/MeterStatusItem.hpp"
#include "Tokvane/StatusItem/StatusHost.hpp"
#include "Tokvane/StatusItem/StatusIcon.hpp"
#include "Tokvane/StatusItem/StatusNotifierTypes.hpp"
#include "VuroMenuBar/ClosureMenuItem.hpp"
#include "tests/interface/support/ShellEngine.hpp"

namespace tokvane {
namespace {

using testing::ShellEngine;
using Clock = ScrollStepper::Clock;

StatusTitle titled(std::optional<std::string> text, std::optional<ProviderID> provider, Severity severity,
                   std::string tooltip = "Tokvane") {
  return StatusTitle{std::move(text), provider, severity, std::move(tooltip)};
}

TEST(StatusPresentation, LabelHostsGetTheGlyphAndTheText) {
  const StatusPresentation p =
      presentStatus(titled("58% · 2h 14m", ProviderID::claude, Severity::warning, "Claude · Session 58% left"), true);
  EXPECT_EQ(p.icon, (StatusIcon{StatusIcon::Kind::glyph, ProviderID::claude, Severity::warning, {}}));
  EXPECT_FALSE(p.icon.isSymbolic());
  EXPECT_EQ(p.label, QStringLiteral("58% · 2h 14m"));
  EXPECT_EQ(p.tooltip, QStringLiteral("Claude · Session 58% left"));
  // The normal state is symbolic: the host recolours it for its panel.
  EXPECT_TRUE(presentStatus(titled("58%", ProviderID::claude, Severity::normal), true).icon.isSymbolic());
  EXPECT_TRUE(presentStatus(StatusTitle::initial(), true).icon.isSymbolic());
}

TEST(StatusPresentation, OtherHostsGetTheNumberInAChip) {
  struct Case {
    std::optional<std::string> text;
    QString chip;
  };
  for (const Case& c : {Case{"58% · 2h 14m", "58"}, Case{"100% · now", "100"}, Case{"7%", "7"}, Case{"—", "—"},
                        Case{std::nullopt, ""}}) {
    const StatusPresentation p = presentStatus(titled(c.text, ProviderID::codex, Severity::critical), false);
    EXPECT_EQ(p.icon.kind, StatusIcon::Kind::chip);
    EXPECT_EQ(p.icon.chipText, c.chip);
    EXPECT_EQ(p.icon.severity, Severity::critical);
    EXPECT_FALSE(p.icon.isSymbolic());
  }
}

// The share of the icon's pixels that are drawn, and the mean colour of the
// opaque ones.
struct Coverage {
  double drawn = 0;
  QColor mean;
};

Coverage coverage(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  long long drawn = 0, r = 0, g = 0, b = 0;
  for (int y = 0; y < argb.height(); ++y) {
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb pixel = argb.pixel(x, y);
      if (qAlpha(pixel) < 250) continue;
      ++drawn;
      r += qRed(pixel);
      g += qGreen(pixel);
      b += qBlue(pixel);
    }
  }
  Coverage result;
  result.drawn = double(drawn) / (argb.width() * argb.height());
  if (drawn) result.mean = QColor(int(r / drawn), int(g / drawn), int(b / drawn));
  return result;
}

TEST(StatusIconArt, ChipsAreFilledInTheSeverityColourWithAWhiteNumber) {
  for (Severity severity : {Severity::normal, Severity::warning, Severity::critical}) {
    const StatusIcon icon{StatusIcon::Kind::chip, std::nullopt, severity, QStringLiteral("58")};
    for (int size : {16, 22, 32, 64}) {
      const QImage image = StatusIconArt::render(icon, size);
      ASSERT_EQ(image.size(), QSize(size, size));
      const Coverage c = coverage(image);
      EXPECT_GT(c.drawn, 0.7) << size;  // a filled square, not a glyph
      // White digits and the fill: somewhere between the fill and white.
      const QColor fill = StatusIconArt::chipColor(severity);
      EXPECT_GE(c.mean.red(), fill.red()) << size;
      const QRgb centre = image.convertToFormat(QImage::Format_ARGB32).pixel(size / 2, size / 2);
      EXPECT_EQ(qAlpha(centre), 255);
    }
  }
  // Every chip fill is dark enough for white text and not black.
  for (Severity severity : {Severity::normal, Severity::warning, Severity::critical}) {
    const QColor fill = StatusIconArt::chipColor(severity);
    EXPECT_LT(fill.lightness(), 130);
    EXPECT_GT(fill.lightness(), 30);
  }
}

TEST(StatusIconArt, SymbolicGlyphReadsOnDarkAndLightPanels) {
  const StatusIcon icon{StatusIcon::Kind::glyph, std::nullopt, Severity::normal, {}};
  const QImage image = StatusIconArt::render(icon, 32).convertToFormat(QImage::Format_ARGB32);
  bool light = false, dark = false;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb p = image.pixel(x, y);
      if (qAlpha(p) < 200) continue;
      if (qGray(p) > 220) light = true;
      if (qGray(p) < 60) dark = true;
    }
  }
  // White glyph with a dark rim: one of the two always contrasts.
  EXPECT_TRUE(light);
  EXPECT_TRUE(dark);
  // The file for hosts that recolour holds filled shapes only.
  const QByteArray svg = StatusIconArt::glyphSVG(icon);
  EXPECT_TRUE(svg.startsWith("<svg"));
  EXPECT_FALSE(svg.contains("stroke"));
  EXPECT_TRUE(svg.contains("fill=\"#000\""));
  EXPECT_TRUE(StatusIconArt::glyphSVG({StatusIcon::Kind::chip, std::nullopt, Severity::normal, "5"}).isEmpty());
  // Provider logos trace too.
  EXPECT_FALSE(StatusIconArt::glyphSVG({StatusIcon::Kind::glyph, ProviderID::claude, Severity::normal, {}}).isEmpty());
}

TEST(StatusIconArt, TintedGlyphTakesTheSeverityColour) {
  const QImage image =
      StatusIconArt::render({StatusIcon::Kind::glyph, ProviderID::claude, Severity::critical, {}}, 32);
  const Coverage c = coverage(image);
  EXPECT_GT(c.drawn, 0.05);
  EXPECT_LT(c.drawn, 0.8);
  EXPECT_EQ(c.mean.rgb(), StatusIconArt::glyphTint(Severity::critical).rgb());
}

TEST(StatusNotifierTypes, IconPixmapsAreARGBInNetworkOrder) {
  QImage image(2, 1, QImage::Format_ARGB32);
  image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0x44));
  image.setPixel(1, 0, qRgba(0xaa, 0xbb, 0xcc, 0xff));
  const SNIIconPixmap pixmap = SNIIconPixmap::fromImage(image);
  EXPECT_EQ(pixmap.width, 2);
  EXPECT_EQ(pixmap.height, 1);
  EXPECT_EQ(pixmap.bytes, QByteArray::fromHex("44112233ffaabbcc"));
  EXPECT_EQ(pixmap.toImage().pixel(0, 0), image.pixel(0, 0));
  EXPECT_TRUE((SNIIconPixmap{4, 4, QByteArray(3, 0)}.toImage().isNull()));
}

TEST(StatusNotifierTypes, MenuLayoutSurvivesMarshalling) {
  registerStatusNotifierTypes();
  DBusMenuLayoutItem root{0, {{"children-display", "submenu"}}, {}};
  root.children.append(DBusMenuLayoutItem{1, {{"label", "Refresh"}}, {}});
  root.children.append(DBusMenuLayoutItem{2, {{"type", "separator"}}, {}});
  const QVariant wrapped = QVariant::fromValue(root);
  const DBusMenuLayoutItem back = qvariant_cast<DBusMenuLayoutItem>(wrapped);
  EXPECT_EQ(back.children.size(), 2);
  EXPECT_EQ(QMetaType::fromName("DBusMenuLayoutItem").id(), qMetaTypeId<DBusMenuLayoutItem>());
  EXPECT_EQ(QMetaType::fromName("DBusMenuItemPropertiesList").id(), qMetaTypeId<DBusMenuItemPropertiesList>());
  EXPECT_EQ(QByteArray(QDBusMetaType::typeToSignature(QMetaType::fromType<DBusMenuLayoutItem>())), "(ia{sv}av)");
  EXPECT_EQ(QByteArray(QDBusMetaType::typeToSignature(QMetaType::fromType<SNIToolTip>())), "(sa(iiay)ss)");
  EXPECT_EQ(QByteArray(QDBusMetaType::typeToSignature(QMetaType::fromType<DBusMenuEventList>())), "a(isvu)");
}

TEST(DBusMenuExporter, ActionsExportTheirLabelShortcutAndKind) {
  QMenu menu;
  vuro::addItem(menu, QStringLiteral("Settings…"), QStringLiteral(","), [] {});
  vuro::addItem(menu, QStringLiteral("Save_as && more"), QString(), [] {});
  menu.addSeparator();
  const QList<QAction*> actions = menu.actions();
  const QVariantMap settings = DBusMenuExporter::propertiesOf(*actions[0]);
  EXPECT_EQ(settings.value("label").toString(), QStringLiteral("Settings…"));
  EXPECT_EQ(settings.value("enabled").toBool(), true);
  EXPECT_EQ(qvariant_cast<QList<QStringList>>(settings.value("shortcut")),
            (QList<QStringList>{{"Control", ","}}));
  EXPECT_EQ(DBusMenuExporter::propertiesOf(*actions[1]).value("label").toString(), QStringLiteral("Save__as & more"));
  EXPECT_FALSE(DBusMenuExporter::propertiesOf(*actions[1]).contains("shortcut"));
  const QVariantMap separator = DBusMenuExporter::propertiesOf(*actions[2]);
  EXPECT_EQ(separator.value("type").toString(), QStringLiteral("separator"));
  EXPECT_FALSE(separator.contains("label"));
}

TEST(DBusMenuExporter, MenuIsBuiltAfreshForEachOpeningAndClicksRunTheAction) {
  // Not exported (no bus needed): the layout and events work the same.
  DBusMenuExporter exporter(QDBusConnection(QStringLiteral("none")), QStringLiteral("/MenuBar"));
  int builds = 0;
  int refreshes = 0;
  exporter.setBuilder([&] {
    ++builds;
    auto menu = std::make_unique<QMenu>();
    vuro::addItem(*menu, QStringLiteral("Refresh"), QStringLiteral("r"), [&] { ++refreshes; });
    menu->addSeparator();
    vuro::addItem(*menu, QStringLiteral("Build %1").arg(builds), QString(), [] {});
    return menu;
  });
  const uint before = exporter.revision();
  EXPECT_TRUE(exporter.aboutToShow(0));
  EXPECT_GT(exporter.revision(), before);
  EXPECT_FALSE(exporter.aboutToShow(2));
  const DBusMenuLayoutItem layout = exporter.layout(0, -1, {});
  ASSERT_EQ(layout.children.size(), 3);
  EXPECT_EQ(layout.children[0].id, 1);
  EXPECT_EQ(layout.children[2].properties.value("label").toString(), QStringLiteral("Build %1").arg(builds));
  EXPECT_EQ(layout.properties.value("children-display").toString(), QStringLiteral("submenu"));
  // Asked for some properties only.
  EXPECT_EQ(exporter.layout(0, -1, {"label"}).children[1].properties.size(), 0);
  EXPECT_EQ(exporter.layout(0, 0, {}).children.size(), 0);

  EXPECT_TRUE(exporter.event(1, QStringLiteral("clicked")));
  EXPECT_FALSE(exporter.event(9, QStringLiteral("clicked")));
  EXPECT_EQ(refreshes, 0);  // not inside the bus call
  QCoreApplication::processEvents();
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(exporter.groupProperties({1, 9}, {}).size(), 1);
}

TEST(StatusHost, LabelHosts) {
  EXPECT_TRUE(StatusHost::showsLabels(QStringLiteral("gnome-shell"), false));
  EXPECT_TRUE(StatusHost::showsLabels(QStringLiteral("xfce4-panel"), true));
  EXPECT_FALSE(StatusHost::showsLabels(QStringLiteral("xfce4-panel"), false));
  EXPECT_FALSE(StatusHost::showsLabels(QStringLiteral("plasmashell"), false));
  EXPECT_FALSE(StatusHost::showsLabels(QString(), false));
}

// A backend that records what it is given.
class FakeBackend final : public StatusItemBackend {
 public:
  void setMenuBuilder(MenuBuilder builder) override { builder_ = std::move(builder); }
  void show(const StatusPresentation& presentation) override { shown.push_back(presentation); }
  bool isHosted() const override { return true; }
  bool hostShowsLabel() const override { return labels; }
  std::optional<QRect> geometry() const override { return reported; }

  void setLabels(bool value) {
    labels = value;
    Q_EMIT hostChanged();
  }
  std::unique_ptr<QMenu> menu() { return builder_ ? builder_() : nullptr; }
  void click(std::optional<QPoint> at) { Q_EMIT activated(at); }
  void scrollBy(double deltaY, double deltaX = 0) { Q_EMIT scrolled(deltaY, deltaX); }

  std::vector<StatusPresentation> shown;
  bool labels = true;
  std::optional<QRect> reported;

 private:
  MenuBuilder builder_;
};

class MeterStatusItemTest : public ::testing::Test {
 protected:
  void make(const std::vector<ProviderID>& present) {
    shell = std::make_unique<ShellEngine>(present);
    auto owned = std::make_unique<FakeBackend>();
    backend = owned.get();
    item = std::make_unique<MeterStatusItem>(
        shell->model(), shell->preferences, [this] { ++clicks; },
        [] {
          auto menu = std::make_unique<QMenu>();
          menu->addAction(QStringLiteral("Refresh"));
          return menu;
        },
        std::move(owned));
  }
  void TearDown() override {
    item.reset();
    shell.reset();
  }

  std::unique_ptr<ShellEngine> shell;
  FakeBackend* backend = nullptr;
  std::unique_ptr<MeterStatusItem> item;
  int clicks = 0;
};

TEST_F(MeterStatusItemTest, DrawsTheInitialTitleAndSkipsEqualOnes) {
  make({ProviderID::claude});
  ASSERT_EQ(backend->shown.size(), 1u);
  EXPECT_EQ(backend->shown[0], presentStatus(StatusTitle::initial(), true));
  EXPECT_EQ(item->current(), StatusTitle::initial());
  item->apply(StatusTitle::initial());
  EXPECT_EQ(backend->shown.size(), 1u);
  const StatusTitle title = titled("40%", ProviderID::claude, Severity::normal, "Claude · Session 40% left");
  item->apply(title);
  item->apply(title);
  ASSERT_EQ(backend->shown.size(), 2u);
  EXPECT_EQ(backend->shown[1].label, QStringLiteral("40%"));
  EXPECT_EQ(item->drawCount(), 2);
}

TEST_F(MeterStatusItemTest, HostThatStopsShowingLabelsGetsTheChip) {
  make({ProviderID::claude});
  item->apply(titled("40%", ProviderID::claude, Severity::warning));
  backend->setLabels(false);
  ASSERT_EQ(backend->shown.size(), 3u);
  EXPECT_EQ(backend->shown[2].icon.kind, StatusIcon::Kind::chip);
  EXPECT_EQ(backend->shown[2].icon.chipText, QStringLiteral("40"));
}

TEST_F(MeterStatusItemTest, ClickRunsTheHandlerAndRemembersWhereItWas) {
  make({ProviderID::claude});
  backend->click(QPoint(700, 3));
  EXPECT_EQ(clicks, 1);
  const PopoverAnchor anchor = item->anchor();
  ASSERT_TRUE(anchor.item.has_value());
  EXPECT_EQ(anchor.item->topLeft(), QPoint(700, 3));
  EXPECT_FALSE(anchor.available.isEmpty());
  // A host that measures the item wins over the click point.
  backend->reported = QRect(10, 10, 24, 24);
  EXPECT_EQ(item->anchor().item, QRect(10, 10, 24, 24));
}

TEST_F(MeterStatusItemTest, ScrollStepsThePinnedProviderThroughThePresentOnes) {
  make({ProviderID::claude, ProviderID::codex, ProviderID::grok});
  ASSERT_EQ(shell->model().present().size(), 3u);
  Preferences& preferences = shell->preferences;
  EXPECT_EQ(preferences.pinnedProvider(), ProviderID::claude);
  // Gestures a while ago, so the host's scroll below starts a new one.
  const auto t0 = Clock::now() - std::chrono::seconds(10);
  item->scroll(-1, 0, false, false, t0);
  EXPECT_EQ(preferences.pinnedProvider(), ProviderID::grok);
  item->scroll(-1, 0, false, false, t0 + std::chrono::milliseconds(100));  // same gesture
  EXPECT_EQ(preferences.pinnedProvider(), ProviderID::grok);
  item->scroll(1, 0, false, false, t0 + std::chrono::milliseconds(500));
  EXPECT_EQ(preferences.pinnedProvider(), ProviderID::claude);
  // From the host's Scroll signal.
  backend->scrollBy(0, 120);
  EXPECT_EQ(preferences.pinnedProvider(), ProviderID::codex);
}

TEST_F(MeterStatusItemTest, ScrollDoesNothingInIconStyleOrWithOneProvider) {
  make({ProviderID::claude, ProviderID::codex});
  shell->preferences.setMenuBarStyle(MenuBarStyle::icon);
  item->scroll(1, 0);
  EXPECT_EQ(shell->preferences.pinnedProvider(), ProviderID::claude);
  shell->preferences.setMenuBarStyle(MenuBarStyle::provider);
  shell->preferences.setDisabledProviders({ProviderID::codex});
  shell->model().updatePresent();
  ASSERT_EQ(shell->model().present().size(), 1u);
  item->scroll(1, 0);
  EXPECT_EQ(shell->preferences.pinnedProvider(), ProviderID::claude);
}

}  // namespace
}  // namespace tokvane
