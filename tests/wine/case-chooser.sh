# shellcheck shell=bash
# The item-based Open chooser under Wine: found by its title, a path typed
# into its file-name box, confirmed or cancelled. Sourced by run-wine-test.

sample="$(qv_wine_path "$HARNESS/bin/qvwinesample.exe")"
mkdir -p "$WORK/données"
: >"$WORK/données/archive é§.zip"
wanted="$(qv_wine_path "$WORK/données/archive é§.zip")"

cat >"$WORK/open.txt" <<STEPS
watchdog 60000
timeout 20000
start "$sample" chooser $wanted
window Essai Quorvel : choisir | Nom du fichier
settext Edit 1 $wanted
screenshot chooser
texts
click-id 1
exit 120
STEPS
run_driver "$WORK/open.txt" || fail "a path typed into the chooser"

cat >"$WORK/cancel.txt" <<STEPS
watchdog 60000
timeout 20000
start "$sample" chooser $wanted
window Essai Quorvel : choisir
click-id 2
exit 122
STEPS
run_driver "$WORK/cancel.txt" || fail "the chooser cancelled"
