#!/usr/bin/env bash
# Writes the man page of tessel from its own help texts: tessel PROGRAM OUTPUT.
set -euo pipefail
program=$1
output=$2
version=$("$program" --version | awk '{print $2}')

# Help text as man text: backslashes and leading dots escaped, one paragraph per block.
as_roff() { sed -e 's/\\/\\e/g' -e 's/^\./\\\&./' -e 's/^$/.PP/'; }

{
  echo ".TH TESSEL 1 \"\" \"tessel $version\" \"User Commands\""
  echo ".SH NAME"
  echo "tessel \\- browse and copy the disk of a digital-TV receiver over USB"
  echo ".SH SYNOPSIS"
  echo ".B tessel"
  echo "[\\fIOPTIONS\\fR] \\fISUBCOMMAND\\fR [\\fIARGUMENTS\\fR]"
  echo ".SH DESCRIPTION"
  echo ".nf"
  "$program" --help | sed '/^Exit status:/,$d' | as_roff
  echo ".fi"
  echo ".SH SUBCOMMANDS"
  for sub in $("$program" --help | awk '/^Subcommands:/{on=1;next} on && NF{print $1} on && !NF{exit}'); do
    echo ".SS $sub"
    echo ".nf"
    "$program" "$sub" --help | sed '/^Exit status:/,$d' | as_roff
    echo ".fi"
  done
  echo ".SH EXIT STATUS"
  echo ".nf"
  "$program" --help | sed -n '/^Exit status:/,$p' | sed 1d | as_roff
  echo ".fi"
  echo ".SH ENVIRONMENT"
  echo "TESSEL_USB_DEVICE=vvvv:pppp names the receiver for one run, before the setting UsbDevice."
  echo ".SH FILES"
  echo "\$XDG_CONFIG_HOME/Orvane/OV Tessel USB/settings.ini (the settings), \$XDG_STATE_HOME/Orvane/OV Tessel USB/Logfiles (the diagnostic logs)."
} > "$output"
