#pragma once

// Whether a mouse button is held anywhere on the X display, also while
// another client's drag holds the pointer. Qt's own button state only knows
// presses on our windows. False where there is no X server (Wayland
// natively, the offscreen platform).
bool pointerButtonHeld();
