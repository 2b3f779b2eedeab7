#!/usr/bin/env bash
# Renders each manual page as man does and fails on any warning (a broken macro, a line that
# cannot be set) or on a page without the sections a reader looks for.
#   man_pages_test.sh PAGE.1...
# Exits 77 (skipped) where man-db is not installed.
set -u
command -v man >/dev/null || { echo "man is not installed: skipped"; exit 77; }
failures=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "FAIL: $page renders with warnings:"
        echo "$warnings"
        failures=$((failures + 1))
    fi
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES "SEE ALSO"; do
        if ! grep -qx "$section" <<<"$text"; then
            echo "FAIL: $page has no $section section"
            failures=$((failures + 1))
        fi
    done
done
[ "$failures" -eq 0 ] && echo "$# pages render without warnings"
[ "$failures" -eq 0 ]
