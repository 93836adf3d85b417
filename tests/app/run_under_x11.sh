#!/bin/sh
# Runs a Qt test program on a virtual X server with a window manager, where
# windows are mapped and exposed asynchronously as on a desktop, unlike on the
# offscreen platform. Exits 77 (skipped) when no virtual X server is installed.
command -v xvfb-run >/dev/null 2>&1 || {
  echo "xvfb-run is not installed"
  exit 77
}
exec xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  if command -v openbox >/dev/null 2>&1; then
    openbox >/dev/null 2>&1 &
    sleep 1
  fi
  QT_QPA_PLATFORM=xcb "$@"' run_under_x11 "$@"
