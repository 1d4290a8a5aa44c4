#include "portselect/Selection.h"

int32_t SelectedPortIndex = -1;
int32_t SelectedSpeedIndex = -1;

const int32_t SpeedTable[SPEED_COUNT] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
