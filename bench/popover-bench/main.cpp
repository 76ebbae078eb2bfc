// tokvane-popover-bench [ROUNDS]: the popover with four providers, each with
// its windows and credits: how long from the status item's click (the
// controller's show) to the popover's first paint, and how long one paint of
// the whole popover takes. Offscreen unless QT_QPA_PLATFORM says otherwise
// (under Xvfb, xcb measures the real window path).

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QThreadPool>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Tokvane/Popover/PopoverController.hpp"
#include "Tokvane/Popover/PopoverRoot.hpp"
#include "tests/interface/support/PopoverModel.hpp"

namespace {

using namespace tokvane;

// Notes the moment of the first paint after it is armed.
class FirstPaint final : public QObject {
 public:
  void arm() {
    painted = false;
    timer.start();
  }
  bool painted = false;
  QElapsedTimer timer;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted && timer.isValid()) {
      painted = true;
    }
    return false;
  }
};

struct Summary {
  double median;
  double p95;
  double max;
};

Summary summarize(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  auto at = [&](double q) { return values[std::min(values.size() - 1, static_cast<size_t>(q * values.size()))]; };
  return {at(0.5), at(0.95), values.back()};
}

void fill(popovertest::PopoverModel& harness) {
  const Date now = Date::now();
  for (ProviderID id : allProviders) {
    harness.makePresent(id);
    ProviderLimits limits;
    limits.plan = "Plan";
    limits.windows = {LimitWindow("session", "Session", 0.35, 18000, now + 7200, LimitSource::live()),
                      LimitWindow("weekly", "Weekly", 0.6, 604800, now + 3 * 86400, LimitSource::live()),
                      LimitWindow("extra", "Weekly Opus", 0.9, 604800, now + 86400, LimitSource::stale(now - 600))};
    limits.credits = Credits{"Credits", 12.5, std::nullopt, std::nullopt, false};
    if (id == ProviderID::grok) limits.status = ProviderStatus::unreachable;
    harness.setLimits(id, limits);
    // The refresh that the first opening starts gets the same answer.
    harness.provider(id).enqueue(limits);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  // TOKVANE_BENCH_POOL=N limits Qt's painting helper threads (1 keeps
  // large fills on the painting thread).
  if (const char* pool = std::getenv("TOKVANE_BENCH_POOL")) QThreadPool::globalInstance()->setMaxThreadCount(std::atoi(pool));

  popovertest::PopoverModel harness;
  fill(harness);
  PopoverController controller(*harness.model, harness.preferences, [] {}, harness.locations);
  popovertest::waitUntil([&] { return controller.height().contentHeight() > 0; });
  const PopoverAnchor anchor{QRect(1100, 0, 24, 24), std::nullopt, QRect(0, 0, 1280, 800), QRect(0, 24, 1280, 776)};

  FirstPaint firstPaint;
  controller.root()->installEventFilter(&firstPaint);
  std::vector<double> openMs;
  for (int i = 0; i < rounds + 5; ++i) {
    controller.close();
    QApplication::processEvents();
    firstPaint.arm();
    controller.show(anchor);
    // The first paint event's whole pass (every child paints in it) ends
    // before processEvents returns.
    popovertest::waitUntil([&] { return firstPaint.painted; }, 2000);
    const double elapsed = firstPaint.timer.nsecsElapsed() / 1e6;
    if (i >= 5 && firstPaint.painted) openMs.push_back(elapsed);  // the first five warm up
  }

  // A whole repaint of the open popover, into its own backing store.
  std::vector<double> paintMs;
  for (int i = 0; i < rounds + 5; ++i) {
    QElapsedTimer timer;
    timer.start();
    controller.window()->repaint();
    if (i >= 5) paintMs.push_back(timer.nsecsElapsed() / 1e6);
  }
  // The same into an image at a device ratio of 2 (a HiDPI screen).
  QImage image(controller.window()->size() * 2, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  std::vector<double> hidpiMs;
  for (int i = 0; i < rounds + 5; ++i) {
    QElapsedTimer timer;
    timer.start();
    controller.window()->render(&image);
    if (i >= 5) hidpiMs.push_back(timer.nsecsElapsed() / 1e6);
  }

  const auto heights = controller.root()->heights();
  std::printf("heights %.1f + %.1f + %.1f\n", heights.header, heights.content, heights.footer);
  const Summary open = summarize(openMs);
  const Summary paint = summarize(paintMs);
  const Summary hidpi = summarize(hidpiMs);
  std::printf("platform %s, popover %dx%d, 4 providers, %d rounds\n",
              QGuiApplication::platformName().toUtf8().constData(), controller.window()->width(),
              controller.window()->height(), rounds);
  std::printf("click to first paint: median %.3f ms, p95 %.3f ms, max %.3f ms\n", open.median, open.p95, open.max);
  std::printf("repaint: median %.3f ms, p95 %.3f ms, max %.3f ms\n", paint.median, paint.p95, paint.max);
  std::printf("paint at device ratio 2: median %.3f ms, p95 %.3f ms, max %.3f ms\n", hidpi.median, hidpi.p95,
              hidpi.max);
  return openMs.empty() ? 1 : 0;
}
