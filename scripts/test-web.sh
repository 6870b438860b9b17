#!/usr/bin/env bash
# The page's tests, which ./test.sh runs once (not under the sanitizers, which do not reach WebAssembly):
# builds the page (scripts/build-web.sh), installs the pinned puppeteer-core from tests/web's lock file
# (it drives the system's Chromium and downloads no browser), and runs tests/web/page_test.mjs in
# headless Chromium against build-web/ and the native show in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
scripts/install-deps.sh --tests
scripts/build-web.sh >/dev/null
cmake --build build -j"$(nproc)" --target narvu >/dev/null
if [ ! tests/web/node_modules/.package-lock.json -nt tests/web/package-lock.json ]; then
  (cd tests/web && npm ci --no-audit --no-fund --loglevel=error) >&2
fi
status=0
node --test tests/web/page_test.mjs || status=$?
echo "web tests: $((SECONDS - start)) s, the page's build included" >&2
exit $status
