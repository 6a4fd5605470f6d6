"""The device's restart after an upgrade, and its web server's faults."""

import socket
import time
import unittest

from world import DEV, PC, Device, Tftpd, curl, http_get, make_image, require_world
from test_digest import challenge_of, program_authorization

IMAGE = make_image(5000, version=b"2.0.13(SEg)")


def refused(port=80):
    try:
        http_get("/admin/advanced", port=port, timeout=2)
    except ConnectionRefusedError:
        return True
    return False


class Restart(unittest.TestCase):
    def setUp(self):
        require_world()
        tftpd = Tftpd({"qor9.bi0": IMAGE})
        self.addCleanup(tftpd.cleanup)

    def upgrade(self, *options, password=None):
        device = Device("--idle-delay", "0.1", "--dally", "0.2", *options)
        self.addCleanup(device.cleanup)
        url = "/admin/upgrade?tftp://%s:69/qor9.bi0" % PC
        if password:
            code = curl("--digest", "-u", "admin:" + password, "http://%s%s" % (DEV, url))[2]
            self.assertEqual(code, "200")
        else:
            self.assertTrue(http_get(url).startswith(b"HTTP/1.1 200"))
        device.wait_for(lambda s: s["restarts"] and s["mode"] != "up", 10, "the restart")
        return device

    def test_away_then_back_with_the_image_version_and_a_new_nonce(self):
        device = self.upgrade("--restart-delay", "1.5", "--password", "pw", "--keep-nonce",
                              password="pw")
        old = device.state()
        self.assertTrue(refused())
        self.assertFalse(old["up"])
        back = device.wait_for(lambda s: s["up"], 5, "the way back")
        self.assertEqual(back["software_version"], "2.0.13(SEg)")
        self.assertNotEqual(back["nonce"], old["nonce"])
        away = back["restarts"][0]["back_at"] - back["restarts"][0]["away_at"]
        self.assertGreaterEqual(away, 1.4)
        self.assertLess(away, 2.5)
        _, body, code = curl("--digest", "-u", "admin:pw", "http://%s/admin/advanced" % DEV)
        self.assertEqual(code, "200")
        self.assertIn(b"<td>2.0.13(SEg)</td>", body)

    def test_clock_rate_shortens_the_restart_alike(self):
        device = self.upgrade("--restart-delay", "10", "--clock-rate", "10")
        back = device.wait_for(lambda s: s["up"], 5, "the way back")
        away = back["restarts"][0]["back_at"] - back["restarts"][0]["away_at"]
        self.assertGreaterEqual(away, 0.9)
        self.assertLess(away, 2.5)

    def test_booting_seconds_refuse_then_503_then_the_page(self):
        device = self.upgrade("--restart-delay", "1", "--booting-seconds", "1.5")
        self.assertTrue(refused())
        device.wait_for(lambda s: s["up"], 5, "the way back")
        back = time.monotonic()
        self.assertTrue(http_get("/admin/advanced").startswith(b"HTTP/1.1 503"))
        time.sleep(max(0.0, back + 1.7 - time.monotonic()))
        page = http_get("/admin/advanced")
        self.assertTrue(page.startswith(b"HTTP/1.1 200"), page[:40])
        self.assertIn(b"<td>2.0.13(SEg)</td>", page)

    def test_old_nonce_after_the_restart_is_stale(self):
        device = self.upgrade("--restart-delay", "0.5", "--password", "pw", "--keep-nonce",
                              password="pw")
        before = device.state()["restarts"]
        self.assertTrue(before)
        old_nonce = device.state()["authorizations"][-1]["nonce"]
        device.wait_for(lambda s: s["up"], 5, "the way back")
        line = program_authorization("admin", "pw", "QOR", old_nonce, "/admin/advanced", 2)
        answer = http_get("/admin/advanced", extra_lines=[line])
        self.assertTrue(answer.startswith(b"HTTP/1.1 401"))
        self.assertNotEqual(challenge_of(answer)[0]["nonce"], old_nonce)
        self.assertIn(b"stale=true", answer)

    def test_return_version_and_never_return(self):
        device = self.upgrade("--restart-delay", "0.3", "--return-version", "2.0.12")
        state = device.wait_for(lambda s: s["up"], 5, "the way back")
        self.assertEqual(state["software_version"], "2.0.12")
        self.assertIn(b"<td>2.0.12</td>", http_get("/admin/advanced"))
        self.doCleanups()
        self.setUp()
        device = self.upgrade("--restart-delay", "0.3", "--never-return")
        time.sleep(1.0)
        self.assertTrue(refused())
        self.assertIsNone(device.state()["restarts"][0]["back_at"])

    def test_two_stages_one_after_the_other(self):
        device = Device("--idle-delay", "0.1", "--dally", "0.2", "--restart-delay", "0.5")
        self.addCleanup(device.cleanup)
        tftpd = Tftpd({"qor9.bi1": make_image(3000, version=b"2.0.14")}, port=70)
        self.addCleanup(tftpd.cleanup)
        for name, port, version in (("/qor9.bi0", 69, "2.0.13(SEg)"), ("/qor9.bi1", 70, "2.0.14")):
            url = "/admin/upgrade?tftp://%s:%d%s" % (PC, port, name)
            self.assertTrue(http_get(url).startswith(b"HTTP/1.1 200"))
            if port == 69:
                # A second trigger while the first transfer runs is ignored.
                self.assertTrue(http_get(url).startswith(b"HTTP/1.1 200"))
            state = device.wait_for(lambda s: s["up"] and s["software_version"] == version, 10,
                                    "version %s" % version)
        self.assertEqual([t["fetched"] for t in state["triggers"]], [True, False, True])
        self.assertEqual([(t["name"], t["port"], t["version"]) for t in state["transfers"]],
                         [("/qor9.bi0", 69, "2.0.13(SEg)"), ("/qor9.bi1", 70, "2.0.14")])
        self.assertEqual(len(state["restarts"]), 2)

    def test_away_mode_drop_leaves_connects_unanswered(self):
        self.upgrade("--restart-delay", "3", "--away-mode", "drop")
        with self.assertRaises(socket.timeout):
            http_get("/admin/advanced", timeout=1)


class WebFaults(unittest.TestCase):
    def setUp(self):
        require_world()

    def device(self, *options):
        device = Device(*options)
        self.addCleanup(device.cleanup)
        return device

    def test_request_as_the_program_sends_it_is_recorded(self):
        device = self.device()
        answer = http_get("/admin/advanced")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"))
        request = device.state()["requests"][0]
        self.assertEqual(request["bytes"], 53)
        self.assertEqual(request["raw"], "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n")
        self.assertEqual(request["peer"].split(":")[0], PC)
        self.assertEqual(http_get("/other")[:12], b"HTTP/1.1 404")
        self.assertEqual(http_get("/admin/upgrade?ftp://x")[:12], b"HTTP/1.1 400")

    def test_http10(self):
        self.device("--http10", "--password", "pw")
        self.assertTrue(http_get("/admin/advanced").startswith(b"HTTP/1.0 401"))

    def test_big_page_before_and_after(self):
        for where in ("before", "after"):
            with self.subTest(where=where):
                self.device("--big-page", where)
                page = http_get("/admin/advanced")
                self.assertGreater(len(page), 131072)
                position = page.index(b"Product Name:")
                self.assertEqual(position > 131071, where == "before")
                self.doCleanups()

    def test_never_close_keeps_the_connection_open(self):
        self.device("--never-close")
        with self.assertRaises(socket.timeout):
            http_get("/admin/advanced", timeout=1)

    def test_unreachable(self):
        self.device("--unreachable", "refuse")
        self.assertTrue(refused())
        self.doCleanups()
        self.device("--unreachable", "drop")
        with self.assertRaises(socket.timeout):
            http_get("/admin/advanced", timeout=1)

    def test_sigterm_ends_it_at_once(self):
        device = Device("--never-close")
        with self.assertRaises(socket.timeout):
            http_get("/admin/advanced", timeout=0.5)
        started = time.monotonic()
        self.assertEqual(device.stop(), 0)
        self.assertLess(time.monotonic() - started, 2)
        self.assertIn("device: stopped", device.log())
        device.cleanup()


if __name__ == "__main__":
    unittest.main()
