# Four arguments: the launcher patches the demo install from 100 to 103 and reaches Ready. Enter
# and Escape before Ready do nothing, Escape in Ready does nothing, and Enter in Ready starts the
# game with exactly the forwarded arguments in the install directory and closes the launcher.
e2e_make_demo
cp -a "$E2E_INSTALL" "$E2E_WORK/install-before"
e2e_set_install_dir "$E2E_INSTALL"
# Paced bodies keep the run in Patching long enough to press keys in it.
e2e_slow_all_files 0.25 2048
e2e_start_server
e2e_start_launcher p q r 1
e2e_main_window 60
e2e_wait_for 30 e2e_was_requested /tzan/PatchInfo.ini || e2e_fail "no patch description requested"
sleep 1
e2e_shot 01-patching

e2e_key "$E2E_WINDOW" Return
sleep 1.5
e2e_launcher_running || e2e_fail "Enter before Ready closed the launcher"
[ ! -e "$E2E_INSTALL/standin-launch.txt" ] || e2e_fail "Enter before Ready started the game"
e2e_key "$E2E_WINDOW" Escape
sleep 1.5
e2e_launcher_running || e2e_fail "Escape closed the launcher while patching"
[ "$(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini")" = 100 ] || e2e_fail "the run ended before the keys were tried"
e2e_shot 02-patching-after-enter-and-escape

# The rest at full speed.
e2e_faults '{}'
e2e_wait_for 180 e2e_version_is "$E2E_INSTALL/VersionInfo.ini" 103 \
  || e2e_fail "VersionInfo.ini never reached 103 (now $(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini"))"
e2e_wait_blinking 60 || e2e_fail "the start button does not blink after the run"
e2e_blink_shots 03-ready 04-ready-blink || e2e_fail "the start button is not blinking"
e2e_differ 02-patching-after-enter-and-escape 03-ready "$E2E_STATUS_AREA" || e2e_fail "the status line did not change for Ready"
e2e_same_tree "$E2E_DEMO/expected" "$E2E_INSTALL" || e2e_fail "install differs from the expected tree: $(head -20 "$E2E_WORK/tree.diff")"

e2e_key "$E2E_WINDOW" Escape
sleep 1.5
e2e_launcher_running || e2e_fail "Escape closed the launcher in Ready"
[ ! -e "$E2E_INSTALL/standin-launch.txt" ] || e2e_fail "Escape started the game"

e2e_key "$E2E_WINDOW" Return
e2e_wait_exit 30 || e2e_fail "the launcher did not close after starting the game"
e2e_wait_for 20 test -s "$E2E_INSTALL/standin-launch.txt" || e2e_fail "the game was not started"
e2e_shot 05-after-launch
commandline="$(e2e_record_field commandline)"
[ "$commandline" = "p q r 1 " ] || e2e_fail "game command line is [$commandline], expected [p q r 1 ]"
directory="$(e2e_record_field directory)"
expected_dir="$(winepath_of "$E2E_INSTALL")"
[ "${directory%\\}" = "$expected_dir" ] || e2e_fail "game ran in [$directory], expected [$expected_dir]"
e2e_expect_no_leftovers
