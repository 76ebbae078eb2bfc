#include "VuroMenuBar/KeyEquivalent.hpp"

namespace vuro::KeyEquivalent {

QKeySequence sequence(const QString& keyEquivalent, Qt::KeyboardModifiers extra) {
  if (keyEquivalent.isEmpty()) return {};
  const QKeySequence parsed(keyEquivalent.left(1).toUpper());
  if (parsed.isEmpty()) return {};
  const QKeyCombination base = parsed[0];
  Qt::KeyboardModifiers modifiers = Qt::ControlModifier | extra;
  const QChar c = keyEquivalent.front();
  if (c.isLetter() && c.isUpper()) modifiers |= Qt::ShiftModifier;
  return QKeySequence(QKeyCombination(modifiers, base.key()));
}

}  // namespace vuro::KeyEquivalent
