#pragma once

#include <QRectF>
#include <QWidget>

namespace vuro {

// A content view on a faint rounded card: the rounded rectangle filled with
// the text colour at opacity 0.055, under an inner border of the same
// rectangle stroked with the text colour at opacity 0.09, 0.75 wide.
class VuroCard : public QWidget {
  Q_OBJECT

 public:
  VuroCard(QWidget* content, qreal cornerRadius, QWidget* parent = nullptr);

  qreal cornerRadius() const;

  static constexpr qreal fillOpacity = 0.055;
  static constexpr qreal borderOpacity = 0.09;
  static constexpr qreal borderWidth = 0.75;

  // Where the fill and the border's centre line go in `bounds`: the border
  // lies inside the shape, so its line runs half its width inside the edge.
  static QRectF fillRect(const QRectF& bounds);
  static QRectF borderRect(const QRectF& bounds);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  qreal radius;
};

}  // namespace vuro
