#pragma once

// Whether the desktop blends windows with what lies behind them, so that a
// window's transparent pixels (the corners outside a rounded outline) show
// the desktop rather than black. X11 needs a compositing manager (the owner
// of the _NET_WM_CM_S0 selection), asked anew on every call since one can
// start or stop at any time; Wayland always composes; the offscreen and
// other platforms count as not blending.
bool windowsBlend();
