#include "devicesim.h"

int main()
{
    return 0;
}
