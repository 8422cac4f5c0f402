# shellcheck shell=bash
# The harness itself: a task dialog of comctl32 v6 found by its title, read,
# typed into and clicked, under Wine. Sourced by run-wine-test.

sample="$(qv_wine_path "$HARNESS/bin/qvwinesample.exe")"

# OK by a button click after typing into the added edit box: 150 + IDOK.
cat >"$WORK/ok.txt" <<STEPS
watchdog 60000
timeout 20000
start "$sample"
window Essai Quorvel | Instruction principale de l'essai
expect Contenu accentué : é è à ç §
expect Pied de page de l'essai
texts
settext Edit 1 Mot de passe é§
screenshot taskdialog
click OK
gone
exit 151
STEPS
run_driver "$WORK/ok.txt" || fail "OK after typing"

# Cancel by TDM_CLICK_BUTTON with nothing typed: 100 + IDCANCEL.
cat >"$WORK/cancel.txt" <<STEPS
watchdog 60000
timeout 20000
start "$sample"
window Essai Quorvel
td-click 2
gone
exit 102
STEPS
run_driver "$WORK/cancel.txt" || fail "TDM_CLICK_BUTTON Cancel"

# A Yes/No box over the dialog carries the same title: the driver takes the
# enabled window, so the box while it is up, then the dialog again.
cat >"$WORK/question.txt" <<STEPS
watchdog 60000
timeout 20000
start "$sample" question
window Essai Quorvel | Instruction principale de l'essai
click-id 1
window Essai Quorvel | Voulez-vous vraiment terminer l'essai ?
screenshot question
click-id 7
window Essai Quorvel | Instruction principale de l'essai
td-click 1
window Essai Quorvel | Voulez-vous vraiment terminer l'essai ?
click-id 6
exit 221
STEPS
run_driver "$WORK/question.txt" || fail "Yes/No box over the dialog"

# A footer that gains a line while the dialog is shown: TDM_UPDATE_ELEMENT_TEXT
# leaves the dialog's size as it was (the second line is clipped),
# TDM_SET_ELEMENT_TEXT lays it out again, taller. The Win32 platform sends
# the set when a footer may need more room: 160 + IDCANCEL.
cat >"$WORK/footer.txt" <<STEPS
watchdog 60000
timeout 20000
start "$sample" footer
window Essai Quorvel | Instruction principale de l'essai
td-click 1
expect Le disque est plein
screenshot footer-two-lines
td-click 2
gone
exit 162
STEPS
run_driver "$WORK/footer.txt" || fail "a two-line footer grows the dialog"

# The driver must fail, and say why, when the dialog it waits for never comes.
cat >"$WORK/missing.txt" <<STEPS
watchdog 60000
timeout 2000
start "$sample"
window Pas ce titre
STEPS
rc=0
run_driver "$WORK/missing.txt" >/dev/null || rc=$?
[ "$rc" -eq 1 ] || fail "a missing window gave status $rc instead of 1"
grep -q "ÉCHEC ligne 4 (window Pas ce titre) : pas de fenêtre « Pas ce titre »" "$DRIVER_OUTPUT" ||
  fail "no clear message for a missing window: $(cat "$DRIVER_OUTPUT")"
grep -q 'fenêtre "Essai Quorvel"' "$DRIVER_OUTPUT" ||
  fail "the failure report does not list the windows seen"
# The driver ends the program it started when a step fails.
for _ in $(seq 50); do pgrep -f 'qvwinesample\.exe' >/dev/null || break; sleep 0.1; done
if pgrep -f 'qvwinesample\.exe' >/dev/null; then fail "the program was left running after a failure"; fi
