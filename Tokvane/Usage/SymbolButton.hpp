#pragma once

#include <QAbstractButton>
#include <QString>

namespace tokvane {

// A borderless button showing one symbol of the symbol set, tinted with the
// secondary label colour (the label colour while pressed).
class SymbolButton final : public QAbstractButton {
  Q_OBJECT

 public:
  SymbolButton(const QString& symbol, int size, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString symbol_;
  int size_;
};

}  // namespace tokvane
