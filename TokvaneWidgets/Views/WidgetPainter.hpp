#pragma once

#include <QRectF>
#include <QSizeF>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneWidgets/Display/WidgetModel.hpp"
#include "TokvaneWidgets/Theme/WidgetPalette.hpp"

class QPainter;

namespace tokvane::widgets {

// Paints a widget's model into a box of the kind's size, from the origin.
// `clock` moves the running countdowns; everything else comes from the model.
namespace WidgetPainter {

// The radius of the widget's rounded corners (square without a compositor).
inline constexpr qreal cornerRadius = 20;

// `clockLines`, when given, receives the text lines that hold a running
// countdown (all that changes when only the clock moves).
void paint(QPainter& painter, const WidgetModel& model, Date clock, const WidgetColors& colors, QSizeF size,
           bool roundedCorners, std::vector<QRectF>* clockLines = nullptr);

// Where the refresh button sits (18 x 18 at the content's top right), or an
// empty rectangle when the model shows none (the empty state).
QRectF refreshButtonRect(const WidgetModel& model, QSizeF size);

}  // namespace WidgetPainter

}  // namespace tokvane::widgets
