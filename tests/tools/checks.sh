# The tally the shell test scripts keep: sourced, then fail/pass per check, and the script ends
# with [ "$failures" -eq 0 ].
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
