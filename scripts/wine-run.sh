#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix and passes on its exit code.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
tagwhirl_wine_prefix
exec wine "$@"
