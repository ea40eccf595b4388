# Three arguments: the game's first item is the launcher's own program name as written on its
# command line; the site code is the third argument.
e2e_make_demo
e2e_install_up_to_date
e2e_set_install_dir "$E2E_INSTALL"
e2e_start_server
e2e_start_launcher x y 3
e2e_main_window 60
e2e_wait_blinking 60 || e2e_fail "the start button does not blink after the run"
e2e_shot 01-ready
e2e_key "$E2E_WINDOW" Return
e2e_wait_exit 30 || e2e_fail "the launcher did not close after starting the game"
e2e_wait_for 20 test -s "$E2E_INSTALL/standin-launch.txt" || e2e_fail "the game was not started"
commandline="$(e2e_record_field commandline)"
case "$commandline" in
  *QuorvelLauncher.exe" x y 3 ") ;;
  *) e2e_fail "game command line is [$commandline], expected the launcher's name, then [x y 3 ]" ;;
esac
case "$commandline" in
  \"*) e2e_fail "the program name kept its quotes: [$commandline]" ;;
esac
e2e_expect_no_leftovers
