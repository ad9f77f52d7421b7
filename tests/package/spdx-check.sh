#!/bin/bash
# SPDX-License-Identifier: MIT
# Every source file of the tree names its licence in its header comment, so a
# file copied out of the project still says under which terms.
#
#   spdx-check.sh SOURCE_DIR
set -u
cd "$1" || exit 1
missing=$(find . \( -name .git -o -name 'build*' \) -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.sh' -o -name '*.cmake' \
       -o -name CMakeLists.txt -o -name '*.scd' -o -path './scripts/*' \) -print |
    while read -r f; do
        head -n 3 "$f" | grep -q 'SPDX-License-Identifier: MIT' || echo "$f"
    done)
if [ -n "$missing" ]; then
    echo "No SPDX-License-Identifier line in the header of:"
    echo "$missing"
    exit 1
fi
