#!/bin/sh
# Copies the notes to a dated folder.
set -eu
dest="${1:?usage: backup.sh DEST}/notes-$(date +%F)"
mkdir -p "$dest" && cp -a ../../notes/. "$dest/"
