"""The soak's checker, one row per case: a record's claim about one camera, what
camsim says happened, and whether the two agree."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check  # noqa: E402

MAC = "02:51:56:00:00:01"
OLD, NEW = "V2.1.3_20240115", "V3.4.0_0a1b2c3d"


def state(**kw):
    s = {"mac": MAC, "sw": OLD, "accepted": 0, "refused": 0, "last_file": "", "rebooting": False,
         "begun": 0, "received": 0, "busy": False, "ip": "127.90.1.1", "ip_changes": 0,
         "ip_refused": 0}
    s.update(kw)
    return s


def row(**kw):
    r = {"mac": MAC, "result": "succeeded", "reason": "", "verify": "named-version",
         "skipped": 0, "file": "/w/001/uImage_V3.4", "version_named": "3.4",
         "version_after": NEW, "ip": "127.90.1.1", "status": "升级成功"}
    r.update(kw)
    return r


KEPT = dict(accepted=1, begun=1, last_file="uImage_V3.4", sw=NEW)
# (name, kind, record row or None, camsim after, resend, agrees)
UPGRADE = [
    ("proven and flashed", "upgrade", row(), KEPT, False, True),
    ("proven, never flashed", "upgrade", row(), {}, False, False),
    ("proven, runs another version", "upgrade", row(), dict(KEPT, sw="V3.4.0_ffffffff"), False,
     False),
    ("proven, still rebooting", "upgrade", row(), dict(KEPT, rebooting=True), False, False),
    ("kept another file", "upgrade", row(), dict(KEPT, last_file="other"), False, False),
    ("flashed twice", "upgrade", row(), dict(KEPT, accepted=2, begun=2), False, False),
    ("unchanged, kept its version", "upgrade", row(verify="unchanged"), dict(KEPT, sw=OLD),
     False, True),
    ("unchanged, but it took the new one", "upgrade", row(verify="unchanged"), KEPT, False,
     False),
    ("not back and silent", "upgrade", row(verify="not-back"),
     dict(KEPT, sw=OLD, rebooting=True), False, True),
    ("not back, yet it is back", "upgrade", row(verify="not-back"), KEPT, False, False),
    ("failed, nothing kept", "upgrade", row(result="failed", reason="link-dropped", verify=""),
     dict(begun=1, received=4096), False, True),
    ("failed, yet kept", "upgrade", row(result="failed", reason="link-dropped", verify=""), KEPT,
     False, False),
    ("may have the file, has it", "upgrade",
     row(result="failed", reason="may-have-file", verify=""), KEPT, False, True),
    ("no connection, yet an update began", "upgrade",
     row(result="failed", reason="no-connect", verify=""), dict(begun=1), False, False),
    ("refused by the camera", "upgrade", row(result="refused", reason="refused", verify=""),
     dict(begun=1, refused=1), False, True),
    ("refused, camera refused nothing", "upgrade",
     row(result="refused", reason="refused", verify=""), dict(begun=1), False, False),
    ("held, untouched", "upgrade", row(result="none", skipped=19, verify="", reason="held"), {},
     False, True),
    ("held, yet an update began", "upgrade",
     row(result="none", skipped=19, verify="", reason="held"), dict(begun=1), False, False),
    ("already current, nothing sent", "upgrade",
     row(reason="already-current"), dict(sw="V3.4.0_99999999"), False, True),
    ("already current, but on another version", "upgrade", row(reason="already-current"), {},
     False, False),
    ("sent again to a camera on the version", "upgrade", row(),
     dict(KEPT, sw="V3.4.0_0a1b2c3d"), False, False),
    ("not in the batch, untouched", "upgrade", None, {}, False, True),
    ("not in the batch, yet flashed", "upgrade", None, KEPT, False, False),
    ("modify-ip taken", "modify-ip", row(ip="127.90.10.1", verify="at-new-address"),
     dict(ip="127.90.10.1", ip_changes=1), False, True),
    ("modify-ip taken, camera elsewhere", "modify-ip", row(ip="127.90.10.1"), {}, False, False),
    ("modify-ip refused, camera moved", "modify-ip",
     row(result="refused", ip="127.90.10.1", verify=""), dict(ip="127.90.10.1"), False, False),
    ("modify-ip refused, camera stayed", "modify-ip",
     row(result="refused", ip="127.90.10.1", verify=""), dict(ip_refused=1), False, True),
    ("an IP batch that flashed", "restore-ip", row(ip="127.90.250.1"),
     dict(KEPT, ip="127.90.250.1"), False, False),
]


class Compare(unittest.TestCase):
    def test_rows(self):
        for name, kind, rep, after, resend, agrees in UPGRADE:
            # a camera sent the same version again with --resend is no fault
            before = state(sw="V3.4.0_0a1b2c3d") if "sent again" in name else state()
            if name.startswith("already current, nothing"):
                before = state(sw="V3.4.0_99999999")
            record = {"kind": kind, "cameras": [rep] if rep else [],
                      "summary": {"total": 1 if rep else 0}}
            found = check.compare(record, {MAC: before}, {MAC: state(**after)}, resend)
            self.assertEqual(not found, agrees, "%s: %s" % (name, found))

    def test_resend_allows_the_same_version(self):
        record = {"kind": "upgrade", "cameras": [row()], "summary": {"total": 1}}
        before = state(sw="V3.4.0_00000000")
        self.assertEqual(check.compare(record, {MAC: before}, {MAC: state(**KEPT)}, True), [])

    def test_record_itself(self):
        two = {"kind": "upgrade", "cameras": [row(), row()], "summary": {"total": 2}}
        self.assertTrue(any("twice" in m for m in
                            check.compare(two, {MAC: state()}, {MAC: state(**KEPT)})))
        stranger = {"kind": "upgrade", "cameras": [row(mac="02:51:56:00:00:99")],
                    "summary": {"total": 1}}
        self.assertTrue(any("not in the fleet" in m for m in
                            check.compare(stranger, {MAC: state()}, {MAC: state()})))
        short = {"kind": "upgrade", "cameras": [row()], "summary": {"total": 3}}
        self.assertTrue(any("summary total" in m for m in
                            check.compare(short, {MAC: state()}, {MAC: state(**KEPT)})))

    def test_version_key(self):
        for sw, key in [("V2.1.3_20240115", "2.1"), ("2.3.1_180101", "2.3"),
                        ("V3.12.0_abc", "3.12"), ("nothing", ""), ("", "")]:
            self.assertEqual(check.version_key(sw), key, sw)


if __name__ == "__main__":
    unittest.main()
