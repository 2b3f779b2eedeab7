#!/bin/sh
# strip(1) as Debian's packaging tools call it for a package's programs: the symbols and also the
# compilers' .comment notes, which lintian reports as unneeded. scripts/package.sh makes it the
# build's CMAKE_STRIP, which cpack runs on each installed program.
exec strip --remove-section=.comment --remove-section=.note --strip-unneeded "$@"
