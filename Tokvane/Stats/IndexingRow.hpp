#pragma once

#include <QWidget>

#include "Tokvane/Engine/Indexing/IndexingProgress.hpp"

namespace tokvane {

class TextLabel;

// The progress of an index run: "Reading Codex history… 0.5 / 2.0 MB" over
// a thin bar in the provider's accent.
class IndexingRow : public QWidget {
  Q_OBJECT
 public:
  explicit IndexingRow(QWidget* parent = nullptr);

  void setProgress(const IndexingProgress& progress);
  const IndexingProgress& progress() const { return progress_; }
  QString text() const;

  // The bar's filled part: bytes read of the larger of the total and 1.
  static double filledFraction(const IndexingProgress& progress);

 private:
  IndexingProgress progress_;
  TextLabel* text_;
  QWidget* bar_;
};

}  // namespace tokvane
