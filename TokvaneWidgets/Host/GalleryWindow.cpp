#include "TokvaneWidgets/Host/GalleryWindow.hpp"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "TokvaneWidgets/Display/WidgetModel.hpp"
#include "TokvaneWidgets/Theme/WidgetPalette.hpp"
#include "TokvaneWidgets/Views/WidgetView.hpp"

namespace tokvane::widgets {

namespace {

QString text(std::string_view value) { return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())); }

}  // namespace

GalleryWindow::GalleryWindow(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Tokvane Widgets"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(20, 20, 20, 20);
  grid->setHorizontalSpacing(24);
  grid->setVerticalSpacing(8);
  int column = 0;
  for (WidgetKind kind : allWidgetKinds) {
    const auto& kindInfo = info(kind);
    auto* view = new WidgetView(kind, this, previewScale);
    previews_[static_cast<size_t>(kind)] = view;
    grid->addWidget(view, 0, column, Qt::AlignHCenter | Qt::AlignBottom);

    auto* name = new QLabel(text(kindInfo.displayName), this);
    name->setFont(widgetFont(13, QFont::DemiBold));
    grid->addWidget(name, 1, column, Qt::AlignHCenter);

    auto* description = new QLabel(text(kindInfo.description), this);
    description->setFont(widgetFont(11));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    description->setFixedWidth(qRound(info(WidgetKind::medium).width * previewScale));
    description->setForegroundRole(QPalette::PlaceholderText);
    grid->addWidget(description, 2, column, Qt::AlignHCenter | Qt::AlignTop);

    auto* add = new QPushButton(QStringLiteral("Add"), this);
    add->setFont(widgetFont(12));
    buttons_[static_cast<size_t>(kind)] = add;
    connect(add, &QPushButton::clicked, this, [this, kind] { emit addRequested(kind); });
    grid->addWidget(add, 3, column, Qt::AlignHCenter);
    ++column;
  }
  grid->setRowStretch(2, 1);
}

void GalleryWindow::setPreview(const SnapshotEntry& entry, Date clock) {
  for (WidgetKind kind : allWidgetKinds) {
    previews_[static_cast<size_t>(kind)]->setModel(makeWidgetModel(kind, entry), clock);
  }
}

}  // namespace tokvane::widgets
