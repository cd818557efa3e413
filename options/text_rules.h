// The texts the colour and resize controls show, as plain rules.
#pragma once

#include <QString>

// The colour count for Slider1's position p: p + 1, right-aligned in three characters
// ("  2", " 51", "256"); longer counts are written in full.
QString colourCountText(qint32 position);

// The percentage for Slider2's position p: right-aligned in three characters, then two spaces
// and "%" (" 50  %", "200  %"); longer numbers are written in full.
QString percentText(qint32 position);
