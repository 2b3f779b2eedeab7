// A second program for the lock tests, run by the test (on POSIX systems possibly as another
// user):
//   tessaly_lock_holder KEY         takes the unit lock named KEY and ends without letting go,
//                                   as a program that is killed in the middle of a command does;
//                                   exit code 0 when the lock was had, 1 when not.
//   tessaly_lock_holder --node PATH takes the lock of the device node PATH, writes "locked" (or
//                                   "in use", or "failed: " and the reason) as one line, holds
//                                   the lock until its standard input ends, then lets go.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "UnitLock.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--node") == 0) {
        UnitLockAttempt held = LockUnitNode(argv[2], 0);
        if (held.Lock)
            std::puts("locked");
        else if (held.Failure.empty())
            std::puts("in use");
        else
            std::printf("failed: %s\n", held.Failure.c_str());
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return held.Lock ? 0 : 1;
    }
    if (argc != 2) {
        std::fputs("usage: tessaly_lock_holder KEY | --node PATH\n", stderr);
        return 2;
    }
    UnitLockAttempt held = LockUnitFile(argv[1], 1000);
    // No destructor runs: the lock is left as a killed program leaves it.
    std::_Exit(held.Lock ? 0 : 1);
}
