# The benchmark in its short mode: a few runs of each measurement, so that it keeps
# working. The figures are printed but not judged (this machine is shared and noisy);
# the stage fails only when the benchmark itself breaks.
set -euo pipefail
bench/run --short
