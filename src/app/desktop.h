#pragma once

namespace kelvara {

// What the desktop expects of a Hungarian program: Qt's own texts (message-box buttons, context
// menus, Qt's dialogs) in Hungarian, whatever the locale; Enter and keypad Enter press a focused
// command button in every window; the menu entry that describes the program, and its icon for
// every window. Call once, after the QApplication exists.
void joinDesktop();

} // namespace kelvara
