# Ready without a game executable: Enter shows the missing-executable error titled "Quorvel RPG",
# and the launcher still closes once it is dismissed.
e2e_make_demo
e2e_install_up_to_date
rm -f "$E2E_INSTALL/QuorvelRPG.bin"
e2e_set_install_dir "$E2E_INSTALL"
e2e_start_server
e2e_start_launcher a b c 0
e2e_main_window 60
e2e_wait_blinking 60 || e2e_fail "the start button does not blink after the run"
e2e_shot 01-ready-up-to-date

e2e_key "$E2E_WINDOW" Return
box="$(e2e_find_window "^$E2E_GAME_BOX_TITLE\$" 20)" || e2e_fail "no game start error box"
sleep 0.5
e2e_shot 02-missing-executable-error
e2e_launcher_running || e2e_fail "the launcher ended before the error was dismissed"
e2e_dismiss "$box"
e2e_wait_exit 30 || e2e_fail "the launcher did not close after the error"
[ ! -e "$E2E_INSTALL/standin-launch.txt" ] || e2e_fail "something was started"
e2e_expect_no_leftovers
