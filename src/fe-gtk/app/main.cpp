#include "session/lumenwick.h"

int main(int argc, char **argv)
{
    return lumenwick_main(argc, argv);
}
