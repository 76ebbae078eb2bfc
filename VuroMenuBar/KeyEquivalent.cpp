#include "VuroMenuBar/KeyEquivalent.hpp"

namespace vuro::KeyEquivalent {

QKeySequence sequence(const QString& keyEquivalent, Qt::KeyboardModifiers extra) {
  if (keyEquivalent.isEmpty()) return {};
  QKeyCombination base = QKeySequence(keyEquivalent.left(1).toUpper())[0];
  Qt::KeyboardModifiers modifiers = Qt::ControlModifier | extra;
  const QChar c = keyEquivalent.front();
  if (c.isLetter() && c.isUpper()) modifiers |= Qt::ShiftModifier;
  return QKeySequence(QKeyCombination(modifiers, base.key()));
}

}  // namespace vuro::KeyEquivalent
