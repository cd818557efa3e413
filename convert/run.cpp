// The conversion run: the press of "Ouvrir" and the folder run. (Written with the conversion.)
#include "app/form1.h"

void Form1::Command1_Click() {}
void Form1::convdossier() {}
