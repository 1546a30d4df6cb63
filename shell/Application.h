#pragma once

// The tray application: runs when no command-line mode applies. A second
// start hands its flags and files to the running instance and returns 0.
int runApplication(int& argc, char** argv);
