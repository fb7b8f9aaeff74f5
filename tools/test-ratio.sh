#!/bin/sh
# Prints the share of the code that is tests: non-blank lines of C++, shell, Python and CMake
# files in tests/ and fuzz/ against src/. With a limit in percent (as in `make check`), fails
# when the share is above it.
cd "$(dirname "$0")/.." || exit 2
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \
    -o -name 'CMakeLists.txt' -o -name '*.cmake' \) -exec cat {} + | grep -cv '^[[:space:]]*$'
}
src=$(count src)
tests=$(count tests fuzz)
share=$(awk -v t="$tests" -v s="$src" 'BEGIN { printf "%.1f", 100 * t / (s + t) }')
echo "src $src lines, tests and fuzz $tests lines: tests are $share% of the code"
if [ -n "$1" ] && awk -v p="$share" -v l="$1" 'BEGIN { exit !(p > l) }'; then
  echo "above the limit of $1%" >&2
  exit 1
fi
