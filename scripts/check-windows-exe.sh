#!/usr/bin/env bash
# Checks a built jetcompact.exe without running it (32-bit programs cannot run on these machines): a PE32 program
# for Intel 80386 and the GUI subsystem, importing from system DLLs only, with its version record (file and product
# version 1.00 / 1,0,0,0, a string table 040904B0 and the translation 0x0409, 1200).
#   bash scripts/check-windows-exe.sh [build/windows-i686/startup/jetcompact.exe]
set -euo pipefail
exe=${1:-build/windows-i686/startup/jetcompact.exe}
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

kind=$(file -b "$exe")
[[ $kind == "PE32 executable (GUI) Intel 80386"* ]] || fail "not a 32-bit GUI program for Intel 80386: $kind"

# DLLs that every Windows installation has; the C and C++ run-times are linked in.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|msvcrt|ws2_32)\.dll$'
imports=$(objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[[ -n $imports ]] || fail "no imports found"
while read -r dll; do
  [[ -z $dll ]] && continue
  if ! echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$system_dlls"; then
    fail "imports $dll, not a system DLL"
  fi
done <<<"$imports"

# The version record, read from the resource's bytes: the fixed part, then the UTF-16 strings.
perl -0777 -ne '
  sub wide { join "", map { $_ . "\0" } split //, shift }
  my $bad = 0;
  my $at = index($_, "\xBD\x04\xEF\xFE");
  if ($at < 0) { print STDERR "FAIL: no fixed version record\n"; exit 1 }
  my (undef, undef, $fileMs, $fileLs, $productMs, $productLs) = unpack("V6", substr($_, $at, 24));
  if ($fileMs != 0x00010000 || $fileLs != 0 || $productMs != 0x00010000 || $productLs != 0) {
    printf STDERR "FAIL: fixed versions %08x.%08x / %08x.%08x, not 1,0,0,0\n", $fileMs, $fileLs, $productMs, $productLs;
    $bad = 1;
  }
  for my $key ("FileVersion", "ProductVersion") {
    my $pattern = quotemeta(wide($key) . "\0\0") . "(?:\\0\\0)?" . quotemeta(wide("1.00") . "\0\0");
    unless (/$pattern/s) { print STDERR "FAIL: no $key 1.00\n"; $bad = 1 }
  }
  my $block = quotemeta(wide("040904B0") . "\0\0");
  unless (/$block/s) { print STDERR "FAIL: no string table 040904B0\n"; $bad = 1 }
  my $translation = quotemeta(wide("Translation") . "\0\0") . "(?:\\0\\0)?\\x09\\x04\\xB0\\x04";
  unless (/$translation/s) { print STDERR "FAIL: no translation 0x0409, 1200\n"; $bad = 1 }
  exit $bad;
' "$exe" || failed=1

if ((failed)); then exit 1; fi
echo "OK: $exe: $kind; imports: $(echo $imports); version 1.00, 040904B0, translation 0x0409 1200"
