// lumenwick-text: the headless front end. Start-up lives in the core.
#include "session/lumenwick.h"

int main(int argc, char **argv)
{
    return lumenwick_main(argc, argv);
}
