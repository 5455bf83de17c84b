# A minute of coverage-guided fuzzing for each harness: the data-file path and the
# answer path, with their invariants checked on every input (fuzz/run-long).
set -euo pipefail
fuzz/run-long 60
