#pragma once

#include <QWidget>
#include <array>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneWidgets/Timeline/SnapshotEntry.hpp"
#include "TokvaneWidgets/Timeline/WidgetKind.hpp"

class QPushButton;

namespace tokvane::widgets {

class WidgetView;

// The window from which widgets are placed: each kind with its display
// name, its description, a preview of the preview entry (the user's data
// when a snapshot is stored, else the sample) and an "Add" button.
class GalleryWindow : public QWidget {
  Q_OBJECT

 public:
  // The previews' size relative to the widgets themselves.
  static constexpr qreal previewScale = 0.62;

  explicit GalleryWindow(QWidget* parent = nullptr);

  // The preview entry the three previews show (each for its own kind).
  void setPreview(const SnapshotEntry& entry, Date clock);
  WidgetView* preview(WidgetKind kind) const { return previews_[static_cast<size_t>(kind)]; }
  QPushButton* addButton(WidgetKind kind) const { return buttons_[static_cast<size_t>(kind)]; }

 signals:
  void addRequested(WidgetKind kind);

 private:
  std::array<WidgetView*, 3> previews_{};
  std::array<QPushButton*, 3> buttons_{};
};

}  // namespace tokvane::widgets
