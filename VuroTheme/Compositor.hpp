#pragma once

namespace vuro {

// Whether windows can be translucent on the running display: on X11 when a
// compositing manager owns the _NET_WM_CM_S<screen> selection, on Wayland
// always, elsewhere (the offscreen platform) never.
namespace Compositor {

bool isRunning();

}  // namespace Compositor

}  // namespace vuro
