# The check lines of the script tests: `check NAME COMMAND...` runs the command and prints
# PASS or FAIL with the name, counting both for the closing "N passed, N failed".
passed=0
failed=0
check() {
    local name="$1"
    shift
    if "$@"; then
        echo "PASS $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name"
        failed=$((failed + 1))
    fi
}
