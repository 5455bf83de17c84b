# Counting checks for the package tests; sourced by each of them.
passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad()
{
    failed=$((failed + 1))
    echo "FAIL: $*"
}
# check DESCRIPTION COMMAND... : passes when the command succeeds.
check()
{
    local what=$1
    shift
    if "$@"; then ok; else bad "$what"; fi
}
# report NAME: the closing line; the status says whether every check passed.
report()
{
    echo "$1: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
