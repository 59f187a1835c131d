#!/usr/bin/env bash
# Checks that every C++ source of the tree is as the project's .clang-format writes it.
# scripts/check_format.sh --fix rewrites the files that are not.
# Other versions of clang-format lay some lines out differently: the check needs Debian 12's.
set -euo pipefail
cd "$(dirname "$0")/.."

wanted_major=14
if ! command -v clang-format >/dev/null 2>&1; then
    echo "# SKIP clang-format is not installed (scripts/setup.sh installs it)"
    exit 0
fi
major=$(clang-format --version | sed -n 's/.*clang-format version \([0-9]*\).*/\1/p')
if [ "$major" != "$wanted_major" ]; then
    echo "# SKIP clang-format $major is not version $wanted_major, whose layout the tree follows"
    exit 0
fi

mapfile -t files < <(find . -path ./build -prune -o -path ./.git -prune -o -path ./node_modules -prune \
                          -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "Sources differ from .clang-format above; scripts/check_format.sh --fix rewrites them."
    exit 1
fi
# clang-format leaves a long string literal as it is: the column limit holds for those too.
if ! python3 - "${files[@]}" <<'CHECK'
import sys
long_lines = [f"{name}:{number}: {len(line)} characters"
              for name in sys.argv[1:]
              for number, line in enumerate(open(name, encoding="utf-8").read().splitlines(), 1)
              if len(line) > 100]
if long_lines:
    print("\n".join(long_lines))
sys.exit(1 if long_lines else 0)
CHECK
then
    echo "Lines above pass the column limit of 100."
    exit 1
fi
echo "${#files[@]} sources follow .clang-format"
