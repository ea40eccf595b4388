# No patch server: no patch list arrives, the worker cannot fetch the patch description and says
# so in a message box and in the status line; nothing in the install changes. The window still
# moves when its background is dragged, and closes with its close button.
e2e_make_demo
cp -a "$E2E_INSTALL" "$E2E_WORK/install-before"
e2e_set_install_dir "$E2E_INSTALL"
e2e_point_at "http://127.0.0.1:$(e2e_dead_port)/tzan/patch.txt"
e2e_start_launcher a b c 0
box="$(e2e_find_window "^$E2E_APP_BOX_TITLE\$" 90)" || e2e_fail "no message box about the patch information"
sleep 0.5
e2e_shot 01-patch-info-failed-box
e2e_dismiss "$box"
e2e_main_window 10
sleep 1
e2e_shot 02-run-again-status
e2e_launcher_running || e2e_fail "the launcher closed by itself"
e2e_key "$E2E_WINDOW" Return
sleep 1
e2e_launcher_running || e2e_fail "Enter closed the launcher after a failed run"
# A press on the background drags the window.
before_x=$E2E_CLIENT_X before_y=$E2E_CLIENT_Y
e2e_drag_client 200 30 -60 40
e2e_client_origin
[ "$E2E_CLIENT_X" -eq $((before_x - 60)) ] && [ "$E2E_CLIENT_Y" -eq $((before_y + 40)) ] \
  || e2e_fail "dragging the background moved the window from $before_x,$before_y to $E2E_CLIENT_X,$E2E_CLIENT_Y"
e2e_shot 03-moved
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"
e2e_same_tree "$E2E_WORK/install-before" "$E2E_INSTALL" || e2e_fail "the install changed: $(head -20 "$E2E_WORK/tree.diff")"
e2e_expect_no_leftovers
# The support desk's record says why; the window's texts stay as they are.
grep -q "^result: failed, no usable patch description" "$E2E_INSTALL/QuorvelLauncher.log" \
  || e2e_fail "the run log does not say why the run failed: $(cat "$E2E_INSTALL/QuorvelLauncher.log" 2>&1)"
