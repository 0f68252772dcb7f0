#!/usr/bin/env bash
# Installs what is missing, builds the tool (not the tests), and starts it.
#   ./scripts/run.sh                                      on a throw-away demo volume
#   ./scripts/run.sh --device /dev/sdX --volume /mnt/dir  on a real disk and its mounted volume
# Reading a raw device needs root, so the script runs itself through sudo, keeping the
# display so the window can open. Before the window opens it says which buttons to press.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    export XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}
    exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
FILLSCAN_TARGET=fillscan "$here/build.sh"

# Only when a window will open: not for batch mode, the help or the version.
window=1
for argument in "$@"; do
    case $argument in
    --batch | --batch=* | -h | --help | --help-all | -v | --version) window=0 ;;
    esac
done
if [ "$window" -eq 1 ]; then
    cat << 'TEXT'

Нажимайте кнопки по порядку:
  «1. Опрос»       — опросить носитель и раздел;
  «2. Заполнение»  — заполнить раздел файлом data.data;
  «3. Чтение»      — прочитать носитель и получить вердикт.
В сводке чтения кнопка «Карта» показывает карту носителя.

TEXT
fi
if [ "$#" -eq 0 ]; then
    exec "$here/demo.sh"
fi
exec "$here/../build/fillscan" "$@"
