#pragma once

class QWidget;

// Centres a window on its screen by its outer size, frame included: left = (screen width − outer
// width) / 2, then top likewise. Run by each window's start-up, before it is shown; a window
// manager adds its frame only once the window is shown, so the window is centred again, once,
// when its frame first shows in its outer size.
void centreOnScreen(QWidget* window);
