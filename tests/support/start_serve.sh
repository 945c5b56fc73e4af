# Sourced by the shell tests that need the sample service.
#
#   start_serve DVKC WORK_DIR [PREFIX...]
#
# Starts `dvkc serve` on 127.0.0.1 (a free port) with a throwaway PKI in
# WORK_DIR/pki, run through PREFIX when given (e.g. `env -u OPENSSL_CONF`),
# stops it when the script exits, and sets `port` and `trust` (the trust
# file for clients) once it listens.
start_serve() {
  serve_dvkc=$1 serve_work=$2
  shift 2
  "$@" "$serve_dvkc" serve --listen 127.0.0.1:0 --pki-dir "$serve_work/pki" \
    >"$serve_work/serve.out" 2>"$serve_work/serve.err" &
  serve=$!
  trap 'kill "$serve" 2>/dev/null || true; wait "$serve" 2>/dev/null || true' EXIT
  serve_tries=0
  until grep -q '^dvkc serve: codes:' "$serve_work/serve.out"; do
    serve_tries=$((serve_tries + 1))
    if [ "$serve_tries" -gt 600 ] || ! kill -0 "$serve" 2>/dev/null; then
      echo "dvkc serve did not start:" >&2
      cat "$serve_work/serve.out" "$serve_work/serve.err" >&2
      exit 1
    fi
    sleep 0.1
  done
  port=$(sed -n 's|^dvkc serve: listening on https://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$serve_work/serve.out")
  trust=$(sed -n 's|^dvkc serve: trust file for clients: \([^ ]*\).*|\1|p' "$serve_work/serve.out")
  [ -n "$port" ] && [ -n "$trust" ] || { cat "$serve_work/serve.out" >&2; exit 1; }
}
