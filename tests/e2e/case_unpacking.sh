# A large archive: while it is unpacked the status line shows the unpacking text with its
# percentage, refreshed by the window's timer; afterwards every member is in place, the archive
# is gone and the version is recorded.
e2e_make_demo
e2e_set_install_dir "$E2E_INSTALL"
# Version 104 brings one archive of many members, big enough to watch its extraction.
"$E2E_PYTHON" - "$E2E_DEMO/server" <<'PY'
import os, sys, zipfile
server = sys.argv[1]
info = os.path.join(server, "tzan", "PatchInfo.ini")
text = open(info, encoding="ascii").read().replace("version=103", "version=104")
open(info, "w", encoding="ascii").write(text + "[104]\n0=bigpatch104.zip\n")
with zipfile.ZipFile(os.path.join(server, "tzan", "patch", "bigpatch104.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(2500):
        line = ("member %05d of the big patch: the quick brown fox jumps over the lazy dog\r\n" % i).encode()
        z.writestr("big104/part%02d/file%05d.txt" % (i % 25, i), line * 300)
PY
e2e_start_server
e2e_start_launcher a b c 0
e2e_main_window 60
e2e_wait_for 180 test -d "$E2E_INSTALL/big104" || e2e_fail "the big archive was never unpacked"
sleep 0.5
e2e_shot 01-unpacking
sleep 0.7
e2e_shot 02-unpacking-later
e2e_differ 01-unpacking 02-unpacking-later "$E2E_STATUS_AREA" || e2e_fail "the unpacking line did not move on"
e2e_wait_for 180 e2e_version_is "$E2E_INSTALL/VersionInfo.ini" 104 || e2e_fail "version 104 was not recorded"
e2e_wait_blinking 60 || e2e_fail "the start button does not blink after the run"
e2e_shot 03-ready-after-unpacking
[ "$(find "$E2E_INSTALL/big104" -type f | wc -l)" = 2500 ] || e2e_fail "not every member was unpacked"
[ ! -e "$E2E_INSTALL/bigpatch104.zip" ] || e2e_fail "the archive was not deleted"
e2e_click_client $E2E_CLOSE_BUTTON_CENTRE
e2e_wait_exit 30 || e2e_fail "the close button did not close the launcher"
e2e_expect_no_leftovers
