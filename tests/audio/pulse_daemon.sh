#!/usr/bin/env bash
# Starts or stops a private PulseAudio daemon for the sound tests.
#   pulse_daemon.sh start <dir>   daemon with its runtime files under <dir>
#   pulse_daemon.sh stop <dir>    ends it and removes <dir>
# The daemon has two 8000 Hz mono null sinks: "speaker" (default output;
# tests record its monitor) and "mic", whose monitor is the default input
# (tests play a known signal into it). Clients reach it with
# PULSE_SERVER=unix:<dir>/native. The sinks never rewind: a monitor must see
# each sample once, in order, for tests to compare it exactly. As root the
# daemon runs in user mode with a warning, which is fine for a test daemon.
set -euo pipefail
action=$1
dir=$2

stop_daemon() {
  if [[ -f "$dir/daemon.pid" ]]; then
    local pid
    pid=$(cat "$dir/daemon.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
  fi
}

case $action in
  start)
    stop_daemon  # a daemon left by an interrupted run
    rm -rf "$dir"
    mkdir -p "$dir/runtime" "$dir/home" "$dir/config"
    chmod 700 "$dir" "$dir/runtime"
    export XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" XDG_CONFIG_HOME="$dir/config"
    unset PULSE_SERVER
    setsid pulseaudio --daemonize=no --exit-idle-time=-1 -n --disallow-exit --use-pid-file=no \
      --log-target=file:"$dir/daemon.log" \
      --load="module-null-sink sink_name=speaker rate=8000 channels=1 norewinds=1" \
      --load="module-null-sink sink_name=mic rate=8000 channels=1 norewinds=1" \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
      </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/daemon.pid"
    export PULSE_SERVER="unix:$dir/native"
    for _ in $(seq 100); do
      if pactl info >/dev/null 2>&1; then
        pactl set-default-sink speaker
        pactl set-default-source mic.monitor
        exit 0
      fi
      sleep 0.1
    done
    echo "PulseAudio test daemon did not start; its log:" >&2
    cat "$dir/daemon.log" >&2 || true
    exit 1 ;;
  stop)
    stop_daemon
    rm -rf "$dir" ;;
  *)
    echo "usage: $0 start|stop <dir>" >&2
    exit 2 ;;
esac
