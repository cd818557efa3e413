// The input and output format tables. The window tests its option buttons in a fixed order and
// the first one selected wins; the index of that button in the order (or -1 when none of the
// tested buttons is selected) picks the code here. The last button of each group is never
// tested: its code is the fall-back.
#pragma once

#include <QString>
#include <initializer_list>

class QRadioButton;

// Input extension for the tested buttons " Bmp" … " Ras"; fall-back "pcd".
QString inputExtension(int selected);

// Write format code for the tested buttons " Bmp", " Tif (Défaut)", "Tif (Packbits)",
// " Tif (non c.)": "bmp", "tifd", "tifp", "tifn"; fall-back "tifh". The first three letters are
// the output extension; a fourth names the kind of TIFF.
QString writeFormatCode(int selected);

// Index of the first selected button in `tested`, or -1.
int firstSelected(std::initializer_list<const QRadioButton*> tested);

// Clears an option button, even the selected one of an exclusive group, which a click cannot
// clear.
void clearOption(QRadioButton* option);
