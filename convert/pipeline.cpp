// The per-file pipeline. (Written with the conversion.)
#include "app/form1.h"

void Form1::convertir() {}
void Form1::liberer() {}
void Form1::lireimage() {}
void Form1::transformer() {}
void Form1::sortie() {}
void Form1::reduire255() {}
void Form1::reduire2() {}
void Form1::ecrireimage() {}
