#include "TokvaneWidgets/Host/WidgetHost.hpp"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "TokvaneWidgets/Bus/WidgetBus.hpp"
#include "TokvaneWidgets/Display/WidgetModel.hpp"
#include "TokvaneWidgets/Host/Autostart.hpp"
#include "TokvaneWidgets/Host/DesktopWidgetWindow.hpp"
#include "TokvaneWidgets/Host/GalleryWindow.hpp"
#include "TokvaneWidgets/Host/InstanceFile.hpp"
#include "TokvaneWidgets/Host/Placement.hpp"

namespace tokvane::widgets {

namespace {

void logLine(const std::string& line) { std::fprintf(stderr, "tokvane-widgets: %s\n", line.c_str()); }

}  // namespace

struct WidgetHost::Slot {
  WidgetInstance instance;
  Timeline timeline;
  DesktopWidgetWindow* window = nullptr;
};

WidgetHost::WidgetHost(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), store_(options_.snapshotDirectory) {
  connect(&wake_, &WallClockTimer::fired, this, &WidgetHost::recheck);
  tick_.setSingleShot(true);
  tick_.setTimerType(Qt::PreciseTimer);
  connect(&tick_, &QTimer::timeout, this, &WidgetHost::tick);
  // An atomic replace shows up as a few directory changes in a row.
  fileChange_.setSingleShot(true);
  fileChange_.setInterval(150);
  connect(&fileChange_, &QTimer::timeout, this, &WidgetHost::reloadAll);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { fileChange_.start(); });
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { fileChange_.start(); });
}

WidgetHost::~WidgetHost() {
  for (auto& slot : slots_) delete slot->window;
  if (gallery_ != nullptr) {
    gallery_->removeEventFilter(this);
    delete gallery_.data();
  }
}

void WidgetHost::start() {
  InstanceFile::ReadResult stored = InstanceFile::read(options_.instanceFile);
  for (const auto& problem : stored.problems) logLine(options_.instanceFile.string() + ": " + problem);
  if (stored.damaged) {
    // Kept aside, so that saving the next placement loses nothing.
    std::filesystem::path aside = options_.instanceFile;
    aside += ".damaged";
    std::error_code error;
    std::filesystem::rename(options_.instanceFile, aside, error);
    logLine(options_.instanceFile.string() + " is damaged; no widgets placed" +
            (error ? std::string() : ", the file was kept as " + aside.string()));
  }
  for (const auto& instance : stored.instances) createSlot(instance);
  watchSnapshot();
  reloadAll();
  syncAutostart();
  if (slots_.empty()) showGallery();
}

DesktopWidgetWindow* WidgetHost::window(int index) const { return slots_.at(static_cast<size_t>(index))->window; }

const Timeline& WidgetHost::timeline(int index) const { return slots_.at(static_cast<size_t>(index))->timeline; }

std::vector<WidgetInstance> WidgetHost::instances() const {
  std::vector<WidgetInstance> result;
  for (const auto& slot : slots_) result.push_back(slot->instance);
  return result;
}

void WidgetHost::createSlot(const WidgetInstance& instance) {
  auto slot = std::make_unique<Slot>();
  slot->instance = instance;
  auto* window = new DesktopWidgetWindow(instance.kind, options_.translucent);
  slot->window = window;
  Slot* raw = slot.get();
  connect(window, &DesktopWidgetWindow::moved, this, [this, raw](QPoint position) {
    raw->instance.x = position.x();
    raw->instance.y = position.y();
    save();
  });
  connect(window, &DesktopWidgetWindow::refreshClicked, this, [] { WidgetBus::postRefresh(); });
  connect(window, &DesktopWidgetWindow::openClicked, this, [] { WidgetBus::openApplication(); });
  connect(window, &DesktopWidgetWindow::providerChosen, this, [this, raw](ProviderID provider) {
    if (raw->instance.provider == provider) return;
    raw->instance.provider = provider;
    save();
    reloadAll();
  });
  // Removal waits for the context menu that asked for it to close.
  connect(window, &DesktopWidgetWindow::removeRequested, this, [this, raw] {
    QTimer::singleShot(0, this, [this, raw] { removeSlot(raw); });
  });
  connect(window, &DesktopWidgetWindow::addRequested, this, &WidgetHost::showGallery);
  slots_.push_back(std::move(slot));
  window->showOnDesktop(QPoint(instance.x, instance.y));
}

void WidgetHost::removeSlot(Slot* slot) {
  for (auto it = slots_.begin(); it != slots_.end(); ++it) {
    if (it->get() != slot) continue;
    (*it)->window->hide();
    (*it)->window->deleteLater();
    slots_.erase(it);
    break;
  }
  save();
  syncAutostart();
  schedule(options_.clock());
  if (slots_.empty() && (gallery_ == nullptr || !gallery_->isVisible())) emit idle();
}

void WidgetHost::addWidget(WidgetKind kind) {
  std::vector<QRect> placed;
  for (const auto& slot : slots_) placed.push_back(slot->window->geometry());
  QRect workArea(0, 0, 1280, 800);
  if (QScreen* screen = QGuiApplication::primaryScreen()) workArea = screen->availableGeometry();
  const auto& kindInfo = info(kind);
  const QPoint position = placeNewWidget(placed, workArea, QSize(kindInfo.width, kindInfo.height));
  createSlot(WidgetInstance{kind, position.x(), position.y(), ProviderID::claude});
  save();
  syncAutostart();
  reloadAll();
}

void WidgetHost::reloadAll() {
  ++reloads_;
  const Date now = options_.clock();
  const std::optional<Snapshot> stored = store_.read();
  for (auto& slot : slots_) {
    slot->timeline = Timelines::timeline(stored, now, slot->instance.kind, slot->instance.provider);
    apply(*slot, now);
  }
  if (gallery_ != nullptr && gallery_->isVisible()) {
    gallery_->setPreview(Timelines::sampleEntry(stored, ProviderID::claude, now), now);
  }
  // An atomic replace leaves the watcher on the old file: watch again.
  watchSnapshot();
  schedule(now);
}

void WidgetHost::recheck() {
  const Date now = options_.clock();
  for (const auto& slot : slots_) {
    if (TimelineSchedule::reloadDue(slot->timeline, now)) return reloadAll();
  }
  for (auto& slot : slots_) apply(*slot, now);
  refreshGallery(now);
  schedule(now);
}

void WidgetHost::apply(Slot& slot, Date now) {
  if (slot.timeline.entries.empty()) return;
  const SnapshotEntry& entry = TimelineSchedule::entryAt(slot.timeline, now);
  slot.window->setModel(makeWidgetModel(slot.instance.kind, entry), now);
}

void WidgetHost::refreshGallery(Date now) {
  if (gallery_ == nullptr || !gallery_->isVisible()) return;
  for (WidgetKind kind : allWidgetKinds) gallery_->preview(kind)->setClock(now);
}

void WidgetHost::schedule(Date now) {
  std::optional<Date> next;
  bool running = false;
  for (const auto& slot : slots_) {
    const Date change = TimelineSchedule::nextChange(slot->timeline, now);
    if (!next || change < *next) next = change;
    running = running || slot->window->model().hasRunningCountdown();
  }
  if (gallery_ != nullptr && gallery_->isVisible()) {
    for (WidgetKind kind : allWidgetKinds) running = running || gallery_->preview(kind)->model().hasRunningCountdown();
  }
  if (next) {
    // The timer runs on the wall clock; the host's clock may be another.
    wake_.fireAt(Date::now() + (*next - now));
  } else {
    wake_.stop();
  }
  if (!running) {
    tick_.stop();
  } else if (!tick_.isActive()) {
    // Just after the next whole second, so the texts change with the clock.
    const double fraction = now.unixSeconds() - std::floor(now.unixSeconds());
    tick_.start(static_cast<int>((1.0 - fraction) * 1000) + 5);
  }
}

void WidgetHost::tick() {
  const Date now = options_.clock();
  for (auto& slot : slots_) slot->window->setClock(now);
  refreshGallery(now);
  schedule(now);
}

void WidgetHost::save() {
  try {
    InstanceFile::write(options_.instanceFile, instances());
  } catch (const std::system_error& error) {
    logLine("cannot write " + options_.instanceFile.string() + ": " + error.what());
  }
}

void WidgetHost::syncAutostart() {
  if (!options_.autostartEntry) return;
  if (!Autostart::sync(*options_.autostartEntry, !slots_.empty(), options_.program)) {
    logLine("cannot update the login entry " + options_.autostartEntry->string());
  }
}

void WidgetHost::watchSnapshot() {
  if (!store_.directory()) return;
  const std::filesystem::path directory = *store_.directory();
  const QString file = QString::fromStdString((directory / SnapshotStore::fileName).string());
  QStringList wanted;
  std::error_code error;
  if (std::filesystem::is_directory(directory, error)) {
    wanted << QString::fromStdString(directory.string());
    if (std::filesystem::exists(directory / SnapshotStore::fileName, error)) wanted << file;
  } else {
    // The folder is made with the first snapshot: watch the nearest folder
    // above it that exists.
    for (auto above = directory.parent_path(); !above.empty(); above = above.parent_path()) {
      if (std::filesystem::is_directory(above, error)) {
        wanted << QString::fromStdString(above.string());
        break;
      }
      if (above == above.parent_path()) break;
    }
  }
  QStringList watched = watcher_.files() + watcher_.directories();
  for (const QString& path : wanted) {
    if (!watched.contains(path)) watcher_.addPath(path);
  }
  for (const QString& path : watched) {
    if (!wanted.contains(path)) watcher_.removePath(path);
  }
}

bool WidgetHost::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close && slots_.empty() && watched == gallery_) {
    QTimer::singleShot(0, this, [this] {
      if (slots_.empty() && (gallery_ == nullptr || !gallery_->isVisible())) emit idle();
    });
  }
  return QObject::eventFilter(watched, event);
}

void WidgetHost::showGallery() {
  if (gallery_ == nullptr) {
    gallery_ = new GalleryWindow();
    gallery_->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(gallery_, &GalleryWindow::addRequested, this, &WidgetHost::addWidget);
    gallery_->installEventFilter(this);
  }
  const Date now = options_.clock();
  gallery_->setPreview(Timelines::sampleEntry(store_.read(), ProviderID::claude, now), now);
  gallery_->setWindowState(gallery_->windowState() & ~Qt::WindowMinimized);
  gallery_->show();
  gallery_->raise();
  gallery_->activateWindow();
  schedule(now);
}

}  // namespace tokvane::widgets
