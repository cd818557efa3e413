#pragma once

class QWidget;

// Centres a window on its screen: left = (screen width − outer width) / 2, then top likewise.
// Run by each window's start-up, before it is shown, so the outer size is the window's own size
// (the window manager adds its frame only later).
void centreOnScreen(QWidget* window);
