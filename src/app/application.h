// Start-up of the program, apart from main() so that it can be linked with
// other resource bundles in tests.
#pragma once

// Selects the style, creates the application, sets the icon, registers the
// controller for QML, loads qrc:/Main.qml and runs the event loop. Returns the
// exit code: 0 after the main window is closed, -1 when it cannot be loaded.
int runApplication(int argc, char **argv);
