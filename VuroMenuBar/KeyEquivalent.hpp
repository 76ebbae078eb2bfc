#pragma once

#include <QKeySequence>
#include <QString>

namespace vuro {

// A menu item's key equivalent as the key sequence it stands for. The text is
// one character ("q", ",") and always goes with the platform's command
// modifier (Control); an upper-case letter adds Shift, as in any menu of the
// kit. Empty text means no shortcut.
namespace KeyEquivalent {

QKeySequence sequence(const QString& keyEquivalent, Qt::KeyboardModifiers extra = {});

}  // namespace KeyEquivalent

}  // namespace vuro
