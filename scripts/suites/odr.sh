#!/usr/bin/env bash
# One definition per name: no two source files under src/ define a class, struct or enum of
# the same name in namespace kestrane (scripts/check_odr.py). A copy of src/ with a second
# ByteStream planted in another subsystem must fail the same check, so that the check is
# seen to be able to fail. Also: every header without "_win" in its name compiles on its own
# on Linux (scripts/check_portable_headers.sh), and a copy with windows.h planted in one fails.
set -uo pipefail
cd "$(dirname "$0")/../.."
passed=0
failed=0

if python3 scripts/check_odr.py src >/tmp/odr.$$ 2>&1; then
  echo "ok every class name in src/ has one definition"
  passed=$((passed + 1))
else
  grep FAILED /tmp/odr.$$
  echo "FAIL a class name in src/ has two definitions"
  failed=$((failed + 1))
fi

planted=$(mktemp -d)
cp -r src "$planted/src"
cat >>"$planted/src/seal/seal_stdio.h" <<'PLANT'
namespace kestrane {
class ByteStream {
 public:
  virtual int Size() const = 0;
};
}  // namespace kestrane
PLANT
if python3 scripts/check_odr.py "$planted/src" >/tmp/odr.$$ 2>&1; then
  echo "FAIL the planted second ByteStream went unnoticed"
  failed=$((failed + 1))
elif grep -q "FAILED ByteStream: defined in .*seal_stdio.h, .*text_lines.h" /tmp/odr.$$; then
  echo "ok the planted second ByteStream is named with both files"
  passed=$((passed + 1))
else
  cat /tmp/odr.$$
  echo "FAIL the check failed on the planted copy for another reason"
  failed=$((failed + 1))
fi
rm -rf "$planted"

if bash scripts/check_portable_headers.sh "$PWD/src" >/tmp/odr.$$ 2>&1; then
  echo "ok $(tail -n 1 /tmp/odr.$$)"
  passed=$((passed + 1))
else
  cat /tmp/odr.$$
  echo "FAIL a portable header needs Win32 to compile"
  failed=$((failed + 1))
fi

planted=$(mktemp -d)
cp -r src "$planted/src"
sed -i '0,/^#include/s//#include "installfolder\/folder_handle_win.h"\n&/' \
  "$planted/src/payload/write_rules.h"
if bash scripts/check_portable_headers.sh "$planted/src" >/tmp/odr.$$ 2>&1; then
  echo "FAIL a portable header that includes windows.h went unnoticed"
  failed=$((failed + 1))
elif grep -q "FAILED payload/write_rules.h" /tmp/odr.$$; then
  echo "ok a portable header that includes windows.h is named"
  passed=$((passed + 1))
else
  cat /tmp/odr.$$
  echo "FAIL the header check failed on the planted copy for another reason"
  failed=$((failed + 1))
fi
rm -rf "$planted" /tmp/odr.$$

echo "odr: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
