#pragma once

namespace vuro {

// Whether the application shows itself among the running programs. The
// desktop has no Dock: the regular policy keeps the application's windows in
// the taskbar and the window switcher; the accessory policy takes them out
// (they become tool windows), for a program that lives in the tray. The
// policy holds for the windows open when it is applied and for every window
// shown later.
namespace DockIcon {

enum class ActivationPolicy { Regular, Accessory };

// Regular for a visible icon, accessory for none.
ActivationPolicy policy(bool visible);

// The policy in force (regular until one is applied).
ActivationPolicy current();

// Sets the policy of `visible`, only when it differs from the one in force.
// Needs the application object.
void apply(bool visible);

}  // namespace DockIcon

}  // namespace vuro
