# A patch file the server answers with an error: the run ends with the failure text, the version
# is not recorded, the start button stays disabled and Enter does nothing.
e2e_make_demo
e2e_set_install_dir "$E2E_INSTALL"
# The first file that the last version brings (the server also holds files of version 100, which an
# install at 100 never asks for).
failing="$("$E2E_PYTHON" -c 'import configparser, sys
p = configparser.ConfigParser(interpolation=None); p.optionxform = str; p.read(sys.argv[1])
v = p["VERSION"]["version"]; n = p[v]["0"]
print("/tzan/patch/" + (n[:-4] + ".bap" if n.endswith(".map") else n))' "$E2E_DEMO/server/tzan/PatchInfo.ini")"
e2e_faults "{\"$failing\": {\"mode\": \"status\", \"status\": 500}}"
e2e_start_server
e2e_start_launcher a b c 0
e2e_main_window 60
e2e_wait_for 120 e2e_was_requested "$failing" || e2e_fail "the failing file was never requested"
e2e_wait_run_over 180 || e2e_fail "the run did not come to an end"
e2e_blink_shots 01-failed 02-failed-later && e2e_fail "the start button blinks after a failed run"
[ "$(e2e_ini_version "$E2E_INSTALL/VersionInfo.ini")" = 100 ] || e2e_fail "a failed run recorded a version"
e2e_key "$E2E_WINDOW" Return
sleep 1.5
e2e_launcher_running || e2e_fail "Enter after a failed run closed the launcher"
[ ! -e "$E2E_INSTALL/standin-launch.txt" ] || e2e_fail "Enter after a failed run started the game"
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"
e2e_expect_no_leftovers
