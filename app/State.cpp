#include "app/State.h"

namespace Malwerk {
void *BILD;
int MX, MY, BUTTONS, GEDRUECKT, FARBE, W;
std::string WERKZEUG, FILE;
NamensEingabe EINGABE;
}  // namespace Malwerk
