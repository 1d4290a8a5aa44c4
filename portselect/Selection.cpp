#include "portselect/Selection.h"

namespace portselect {

const int32_t SpeedTable[SPEED_COUNT] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

}  // namespace portselect
