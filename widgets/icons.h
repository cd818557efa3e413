// The windows' icons, drawn here: a mosaic for the main window, an "i" for About and a "?" for
// Help.
#pragma once

#include <QIcon>
#include <QImage>

QIcon mainWindowIcon();  // 32 × 32, at most 256 colours
QIcon aboutIcon();       // 32 × 32 and 16 × 16, 16 colours each
QIcon helpIcon();        // 32 × 32 and 16 × 16, 16 colours each

// The main window's mosaic at any side in full colour: the program's icon once installed.
QImage programPicture(int side);
