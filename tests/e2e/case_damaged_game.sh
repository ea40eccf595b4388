# Ready with a game executable that is no program: Enter shows the second start error (the
# system's code and the DirectX text) titled "Quorvel RPG", and the launcher still closes.
e2e_make_demo
e2e_install_up_to_date
printf 'not a program\r\n' >"$E2E_INSTALL/QuorvelRPG.bin"
e2e_set_install_dir "$E2E_INSTALL"
e2e_start_server
e2e_start_launcher a b c 0
e2e_main_window 60
e2e_wait_blinking 60 || e2e_fail "the start button does not blink after the run"
e2e_key "$E2E_WINDOW" Return
box="$(e2e_find_window "^$E2E_GAME_BOX_TITLE\$" 20)" || e2e_fail "no game start error box"
sleep 0.5
e2e_shot 01-start-error-with-code
e2e_dismiss "$box"
e2e_wait_exit 30 || e2e_fail "the launcher did not close after the error"
[ ! -e "$E2E_INSTALL/standin-launch.txt" ] || e2e_fail "something was started"
e2e_expect_no_leftovers
