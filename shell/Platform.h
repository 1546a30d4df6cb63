#pragma once

// Under a Wayland session the tray application asks for X11 (XWayland)
// unless the user chose a platform: Wayland gives an ordinary window no
// position, so the popover could not be put under the icon. Reads the
// environment and the arguments, may set QT_QPA_PLATFORM.
void preferX11UnderWayland(int argc, char** argv);
