#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"

class QScrollArea;
class QVBoxLayout;

namespace tokvane {

class AppModel;
class PopoverFooter;
class Preferences;
class SegmentedControl;
class Subscription;
class UsageTab;

// What fills the popover: the tab picker (Usage, Stats, Models), the chosen
// tab in a scrolling middle, and the footer. The chosen tab is the user's
// preference, so the popover reopens where it was left. It reports its
// natural height - header, the whole tab content and footer - whenever that
// changes; the middle scrolls when the popover is capped lower.
class PopoverRoot final : public QWidget {
  Q_OBJECT

 public:
  // The measured heights of the three bands.
  struct Heights {
    double header = 0;
    double content = 0;
    double footer = 0;

    double total() const { return header + content + footer; }
    friend bool operator==(const Heights&, const Heights&) = default;
  };

  struct Actions {
    std::function<void()> onSettings;
    std::function<void(double)> onHeightChange;
    // Ends the program at once; none: _exit(0).
    std::function<void()> onQuit;
  };

  static constexpr int width = 420;
  static constexpr int padding = 16;

  PopoverRoot(AppModel& model, Preferences& preferences, Actions actions,
              ProviderLocations locations = ProviderLocations::live(), QWidget* parent = nullptr);
  ~PopoverRoot() override;

  PopoverTab tab() const { return tab_; }
  // Shows a tab and remembers it in the preferences.
  void chooseTab(PopoverTab tab);

  // The clock the cards and the footer are drawn for (the wall clock unless
  // replaced).
  void setClock(std::function<Date()> clock);

  // Measures the bands now (it happens by itself after every layout change)
  // and reports the sum when it changed.
  void measure();
  const Heights& heights() const { return heights_; }

  // Rounded corners over a translucent window (where a compositor draws
  // them); square and opaque otherwise.
  void setRoundedCorners(bool rounded);

  QWidget* tabContent() const;
  UsageTab* usageTab() const;
  PopoverFooter* footer() const { return footer_; }
  SegmentedControl* tabPicker() const { return picker_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QWidget* makeTab(PopoverTab tab);
  void showTab(PopoverTab tab);
  void scheduleMeasure();
  void updateFooter();
  void updateScrolling();

  AppModel& model_;
  Preferences& preferences_;
  Actions actions_;
  ProviderLocations locations_;
  std::function<Date()> clock_;
  PopoverTab tab_ = PopoverTab::usage;
  std::array<QWidget*, 3> tabs_{};

  QWidget* header_;
  SegmentedControl* picker_;
  QScrollArea* scroll_;
  QWidget* contentFrame_;
  QVBoxLayout* contentLayout_;
  QWidget* footerFrame_;
  PopoverFooter* footer_;
  Heights heights_;
  bool measurePending_ = false;
  bool rounded_ = false;
  std::shared_ptr<Subscription> modelSubscription_;
  std::shared_ptr<Subscription> preferencesSubscription_;
};

}  // namespace tokvane
