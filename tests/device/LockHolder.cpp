// Takes the unit lock named by its argument and ends without letting go, as a program that is
// killed in the middle of a command does. Exit code 0 when the lock was had, 1 when not.
#include <cstdio>
#include <cstdlib>

#include "UnitLock.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: tessaly_lock_holder KEY\n", stderr);
        return 2;
    }
    UnitLockAttempt held = LockUnitFile(argv[1], 1000);
    // No destructor runs: the lock is left as a killed program leaves it.
    std::_Exit(held.Lock ? 0 : 1);
}
