#include "app/State.h"

#include "rt/str.h"

namespace Malwerk {
void *BILD;
int MX, MY, BUTTONS, NUM2;
RkString WERKZEUG, FILE;
}  // namespace Malwerk
