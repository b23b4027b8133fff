#include "app/Malwerk.h"

int main(int argc, char **argv)
{
    return Malwerk::HAUPTPROGRAMM(argc, argv);
}
