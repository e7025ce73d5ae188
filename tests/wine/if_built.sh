#!/usr/bin/env bash
# if_built.sh - run a command that checks FILE, or skip (exit 77, which ctest
# counts as skipped through SKIP_RETURN_CODE) when FILE has not been built.
#
# Usage: if_built.sh FILE CMD [ARGS...]
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: if_built.sh FILE CMD [ARGS...]" >&2; exit 2; }
if [[ ! -f "$1" ]]; then
    echo "if_built.sh: $1 is not built; skipped"
    exit 77
fi
shift
exec "$@"
