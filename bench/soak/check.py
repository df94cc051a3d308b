"""The soak's ground truth: what a batch report says of every camera against
what camsim's state files say the camera received, kept and runs now.

compare() takes the batch's record (upgrade --json, history ID --json), the
cameras' states before and after the batch (one dict per MAC, as camsim
writes <dir>/<MAC>.json) and returns one line per disagreement.
"""
import json
import os
import re

# Cameras never touched by the job: held, stopped, or nothing to send.
UNTOUCHED_REASONS = {"not-started", "held", "already-current", "newer", "other-device"}
# A check after the reboot that proves the file took.
PROVEN = {"new-version", "named-version"}


def version_key(sw):
    """The "major.minor" the tool compares: leading letters off, the text
    before the first '_', then before its last '.'."""
    head = re.sub(r"^[A-Za-z]+", "", sw).split("_", 1)[0]
    return head.rsplit(".", 1)[0] if "." in head else ""


def read_states(files_dir, cameras):
    """Every camera's state now: its state file, else as it was started."""
    states = {}
    for cam in cameras:
        path = os.path.join(files_dir, cam["mac"].replace(":", "-") + ".json")
        state = {"mac": cam["mac"], "sw": cam["sw"], "accepted": 0, "refused": 0,
                 "last_file": "", "rebooting": False, "begun": 0, "received": 0,
                 "busy": False, "ip": cam["ip"], "ip_changes": 0, "ip_refused": 0}
        try:
            with open(path, encoding="utf-8") as f:
                state.update(json.load(f))
        except FileNotFoundError:
            pass
        states[cam["mac"]] = state
    return states


def _upgrade_row(mac, rep, b, a, resend):
    out = []
    acc = a["accepted"] - b["accepted"]
    begun = a["begun"] - b["begun"]
    result, reason, verify = rep.get("result"), rep.get("reason", ""), rep.get("verify", "")
    said = "%s (%s%s%s)" % (rep.get("status", ""), result, "/" + reason if reason else "",
                            "/" + verify if verify else "")

    def bad(what):
        out.append("%s: reported %s, camsim %s" % (mac, said, what))

    if rep.get("skipped", 0) != 0 or result == "none" or reason in UNTOUCHED_REASONS:
        if begun != 0 or acc != 0:
            bad("began %d update(s) and kept %d file(s)" % (begun, acc))
        if reason == "already-current" and version_key(b["sw"]) != rep.get("version_named"):
            bad("ran %s, not version %s" % (b["sw"], rep.get("version_named")))
        return out
    if result == "succeeded":
        if acc != 1:
            bad("kept %d file(s) in this batch%s" %
                (acc, " (reported upgraded, never flashed)" if acc == 0 else ""))
            return out
        if not resend and rep.get("version_named") and \
                version_key(b["sw"]) == rep.get("version_named"):
            bad("already ran %s and was sent the file again" % b["sw"])
        name = os.path.basename(rep.get("file", ""))
        if name and a["last_file"] != name:
            bad("kept %r, not %r" % (a["last_file"], name))
        if verify in PROVEN:
            if a["rebooting"] or a["sw"] != rep.get("version_after") or a["sw"] == b["sw"]:
                bad("runs %s%s (was %s)" % (a["sw"], ", rebooting" if a["rebooting"] else "",
                                           b["sw"]))
        elif verify == "unchanged":
            if a["rebooting"] or a["sw"] != b["sw"]:
                bad("runs %s (was %s)" % (a["sw"], b["sw"]))
        elif verify == "not-back":
            if not a["rebooting"]:
                bad("is back, runs %s" % a["sw"])
        else:
            bad("runs %s: no such proof expected on this fleet" % a["sw"])
        return out
    # refused or failed: nothing kept, unless the verdict may have been lost
    if reason == "may-have-file":
        if acc > 1:
            bad("kept %d files" % acc)
        return out
    if acc != 0 or a["sw"] != b["sw"]:
        bad("kept %d file(s), runs %s (was %s)" % (acc, a["sw"], b["sw"]))
    if reason.startswith("refused-") or reason == "refused":
        if reason != "refused-busy" and a["refused"] - b["refused"] < 1:
            bad("refused nothing")
    if reason == "no-connect" and begun != 0:
        bad("began %d update(s)" % begun)
    return out


def _ip_row(mac, rep, b, a):
    out = []
    said = "%s (%s/%s)" % (rep.get("status", ""), rep.get("result"), rep.get("verify", ""))
    if rep.get("result") == "succeeded":
        if a["ip"] != rep.get("ip"):
            out.append("%s: reported %s to %s, camsim is at %s" % (mac, said, rep.get("ip"),
                                                                 a["ip"]))
        if rep.get("verify") == "at-new-address" and rep.get("address_seen", "") not in ("", a["ip"]):
            out.append("%s: reported seen at %s, camsim is at %s" % (mac, rep.get("address_seen"),
                                                                   a["ip"]))
    elif a["ip"] != b["ip"]:
        out.append("%s: reported %s, camsim moved from %s to %s" % (mac, said, b["ip"], a["ip"]))
    return out


def compare(report, before, after, resend=False):
    """Lines of disagreement between a batch record and the cameras' states;
    resend: the batch was asked to send to cameras already on the file's version."""
    out = []
    kind = report.get("kind")
    rows = {}
    for rep in report.get("cameras", []):
        if rep.get("mac") in rows:
            out.append("%s: twice in the record" % rep.get("mac"))
        rows[rep.get("mac")] = rep
    for mac in rows:
        if mac not in before:
            out.append("%s: in the record, not in the fleet" % mac)
    summary = report.get("summary", {})
    if summary.get("total") != len(rows):
        out.append("summary total %s, %d cameras in the record" % (summary.get("total"), len(rows)))
    for mac, b in before.items():
        a = after[mac]
        rep = rows.get(mac)
        if rep is None or kind != "upgrade":
            if a["accepted"] != b["accepted"] or a["begun"] != b["begun"]:
                out.append("%s: %s, camsim began %d update(s)" %
                           (mac, "not in the batch" if rep is None else "an IP batch",
                            a["begun"] - b["begun"]))
        if rep is None:
            if a["ip"] != b["ip"] or a["sw"] != b["sw"]:
                out.append("%s: not in the batch, camsim moved %s -> %s, runs %s (was %s)" %
                           (mac, b["ip"], a["ip"], a["sw"], b["sw"]))
            continue
        out += _upgrade_row(mac, rep, b, a, resend) if kind == "upgrade" else _ip_row(mac, rep, b, a)
    return out
