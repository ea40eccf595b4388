# No arguments: no window, only a web page handed to the browser; the patch list fetched at
# start-up is deleted again.
e2e_make_demo
e2e_set_install_dir "$E2E_INSTALL"
e2e_start_server
e2e_start_launcher
e2e_wait_exit 60 || e2e_fail "a plain start did not end"
[ "$(e2e_requested /tzan/patch.txt)" -ge 1 ] || e2e_fail "the patch list was not fetched"
[ "$(e2e_requested /tzan/PatchInfo.ini)" = 0 ] || e2e_fail "a plain start ran the worker"
e2e_shot 01-after-plain-start
e2e_expect_no_leftovers
