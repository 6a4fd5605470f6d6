"""The device's Digest check against curl, the RFC 2617 example and the
upgrade program's own form of the Authorization line."""

import hashlib
import re
import unittest

from world import DEV, Device, curl, http_get, require_world

URL = "http://%s/admin/advanced" % DEV


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def challenge_of(answer):
    head = answer.split(b"\r\n\r\n", 1)[0].decode()
    line = [h for h in head.split("\r\n") if h.startswith("WWW-Authenticate:")][0]
    return dict(re.findall(r'(\w+)="?([^",]*)"?', line.split("Digest", 1)[1])), line


def program_authorization(user, password, realm, nonce, uri, nc, cnonce="1f2e",
                          qop="auth", algorithm=""):
    """The line as the upgrade program writes it: no blanks, algorithm always
    quoted, qop unquoted and verbatim, nc in nine hex digits."""
    ha1 = md5("%s:%s:%s" % (user, realm, password))
    if algorithm.lower() == "md5-sess":
        raw = hashlib.md5(("%s:%s:%s" % (user, realm, password)).encode()).digest()
        ha1 = hashlib.md5(raw + (":%s:%s" % (nonce, cnonce)).encode()).hexdigest()
    ha2 = md5("GET:%s" % uri) if qop != "auth-int" else md5("GET:%s:%s" % (uri, md5("")))
    nc_text = "%09x" % nc
    if qop:
        response = md5(":".join((ha1, nonce, nc_text, cnonce, qop, ha2)))
    else:
        response = md5(":".join((ha1, nonce, ha2)))
    line = ('Authorization: Digest username="%s",realm="%s",nonce="%s",uri="%s",'
            'algorithm="%s",response="%s"' % (user, realm, nonce, uri, algorithm, response))
    if qop:
        line += ',qop=%s,nc=%s,cnonce="%s"' % (qop, nc_text, cnonce)
    return line


class CurlDigest(unittest.TestCase):
    """curl --digest is an independent client: what it sends must pass."""

    def setUp(self):
        require_world()

    def run_device(self, *options):
        device = Device("--password", "s3cret", *options)
        self.addCleanup(device.cleanup)
        return device

    def test_right_password_gets_the_page_and_wrong_one_is_refused(self):
        device = self.run_device()
        rc, body, code = curl("--digest", "-u", "admin:s3cret", URL)
        self.assertEqual((rc, code), (0, "200"))
        for label, value in (("Product Name:", "QOR-7101"), ("Software Version:", "2.0.10"),
                             ("Serial Number:", "QOR71010001234")):
            self.assertIn(("<td class=\"label\">%s</td><td>%s</td>" % (label, value)).encode(), body)
        rc, body, code = curl("--digest", "-u", "admin:wrong", URL)
        self.assertEqual(code, "401")
        rc, body, code = curl("--digest", "-u", "root:s3cret", URL)
        self.assertEqual(code, "401")
        checks = device.state()["authorizations"]
        self.assertEqual([c["ok"] for c in checks], [True, False, False])
        self.assertEqual(checks[0]["nc"], "00000001")
        self.assertEqual(checks[1]["reason"], "wrong response (password or hash)")
        self.assertTrue(checks[2]["reason"].startswith("wrong user"))

    def test_other_challenge_forms_work_with_curl(self):
        forms = ((("--qop", "none"), "qop"), (("--algorithm", "MD5"), 'algorithm="MD5"'),
                 (("--algorithm", "MD5-sess", "--sess-form", "hex"), 'algorithm="MD5-sess"'),
                 (("--opaque", "0pq"), 'opaque="0pq"'), (("--qop", "auth,auth-int"), 'qop="auth,auth-int"'))
        for form, mark in forms:
            with self.subTest(form=form):
                device = Device("--password", "s3cret", *form)
                try:
                    challenge = challenge_of(http_get("/admin/advanced"))[1]
                    if form[1] == "none":
                        self.assertNotIn(mark, challenge)
                    else:
                        self.assertIn(mark, challenge)
                    rc, _, code = curl("--digest", "-u", "admin:s3cret", URL)
                    self.assertEqual(code, "200", device.log())
                    rc, _, code = curl("--digest", "-u", "admin:bad", URL)
                    self.assertEqual(code, "401")
                finally:
                    device.cleanup()

    def test_refuse_password_fault_refuses_curl_too(self):
        device = self.run_device("--refuse-password")
        self.assertEqual(curl("--digest", "-u", "admin:s3cret", URL)[2], "401")
        self.assertIn("refused (refuse-password)", device.log())


class KnownAnswer(unittest.TestCase):
    """The example of RFC 2617 section 3.5, byte for byte."""

    RFC_LINE = ('Authorization: Digest username="Mufasa", realm="testrealm@host.com", '
                'nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", uri="/dir/index.html", '
                'qop=auth, nc=00000001, cnonce="0a4f113b", '
                'response="6629fae49393a05397450978507c4ef1", '
                'opaque="5ccc069c403ebaf9f0171e9517f40e41"')

    def setUp(self):
        require_world()
        self.device = Device("--user", "Mufasa", "--password", "Circle Of Life",
                             "--realm", "testrealm@host.com", "--keep-nonce",
                             "--nonce", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                             "--opaque", "5ccc069c403ebaf9f0171e9517f40e41")
        self.addCleanup(self.device.cleanup)

    def test_rfc_example_passes_and_a_changed_digit_fails(self):
        answer = http_get("/dir/index.html", extra_lines=[self.RFC_LINE])
        self.assertTrue(answer.startswith(b"HTTP/1.1 404"), answer[:80])
        bad = self.RFC_LINE.replace("6629fae4", "6629fae5").replace("nc=00000001", "nc=00000002")
        answer = http_get("/dir/index.html", extra_lines=[bad])
        self.assertTrue(answer.startswith(b"HTTP/1.1 401"), answer[:80])
        checks = self.device.state()["authorizations"]
        self.assertEqual([c["ok"] for c in checks], [True, False])

    def test_uri_must_be_the_request_path(self):
        answer = http_get("/admin/advanced", extra_lines=[self.RFC_LINE])
        self.assertTrue(answer.startswith(b"HTTP/1.1 401"))
        self.assertIn("is not the request's", self.device.state()["authorizations"][0]["reason"])


class ProgramForm(unittest.TestCase):
    """The line the upgrade program sends: nine-digit nc, unquoted qop,
    algorithm="" and no blanks between the parameters."""

    def setUp(self):
        require_world()

    def start(self, *options):
        device = Device("--password", "pw", *options)
        self.addCleanup(device.cleanup)
        params, _ = challenge_of(http_get("/admin/advanced"))
        return device, params

    def get(self, params, nc, password="pw", qop="auth", nonce=None, algorithm=""):
        line = program_authorization("admin", password, params["realm"], nonce or params["nonce"],
                                     "/admin/advanced", nc, qop=qop, algorithm=algorithm)
        return http_get("/admin/advanced", extra_lines=[line])

    def test_nine_digit_nc_sequence_is_checked(self):
        device, params = self.start()
        self.assertTrue(self.get(params, 1).startswith(b"HTTP/1.1 200"))
        self.assertTrue(self.get(params, 2).startswith(b"HTTP/1.1 200"))
        replay = self.get(params, 2)
        self.assertTrue(replay.startswith(b"HTTP/1.1 401"))
        self.assertEqual(challenge_of(replay)[0]["nonce"], params["nonce"])
        self.assertTrue(self.get(params, 0x1f).startswith(b"HTTP/1.1 200"))
        checks = device.state()["authorizations"]
        self.assertEqual([(c["ok"], c["nc"]) for c in checks],
                         [(True, "000000001"), (True, "000000002"), (False, "000000002"),
                          (True, "00000001f")])
        self.assertEqual([c.get("nc_in_sequence") for c in checks], [True, True, None, False])
        self.assertIn("replayed", checks[2]["reason"])

    def test_wrong_password_keeps_the_nonce(self):
        device, params = self.start()
        answer = self.get(params, 1, password="nope")
        self.assertTrue(answer.startswith(b"HTTP/1.1 401"))
        self.assertEqual(challenge_of(answer)[0]["nonce"], params["nonce"])
        self.assertFalse(device.state()["authorizations"][0]["ok"])

    def test_stale_nonce_gets_stale_challenge(self):
        device, params = self.start()
        answer = self.get(params, 1, nonce="0123abcd")
        self.assertTrue(answer.startswith(b"HTTP/1.1 401"))
        self.assertIn(b"stale=true", answer)
        self.assertTrue(device.state()["authorizations"][0]["reason"].startswith("stale nonce"))

    def test_nonce_per_401_changes_the_nonce_even_after_a_wrong_password(self):
        device, params = self.start("--nonce-per-401")
        answer = self.get(params, 1, password="nope")
        self.assertNotEqual(challenge_of(answer)[0]["nonce"], params["nonce"])

    def test_md5_sess_over_the_raw_digest(self):
        device, params = self.start("--algorithm", "MD5-sess")
        self.assertTrue(self.get(params, 1, algorithm="MD5-sess").startswith(b"HTTP/1.1 200"),
                        device.log())
        # curl's hex form is refused by default: the device follows the reference code.
        self.assertEqual(curl("--digest", "-u", "admin:pw", "http://%s/admin/advanced" % DEV)[2], "401")

    def test_qop_forms(self):
        for offered, sent in (("auth,auth-int", "auth,auth-int"), ("auth-int", "auth-int"),
                              ("none", "")):
            with self.subTest(qop=offered):
                device = Device("--password", "pw", "--qop", offered)
                try:
                    params, _ = challenge_of(http_get("/admin/advanced"))
                    self.assertTrue(self.get(params, 1, qop=sent).startswith(b"HTTP/1.1 200"),
                                    device.log())
                    self.assertTrue(self.get(params, 2, qop=sent, password="x")
                                    .startswith(b"HTTP/1.1 401"))
                finally:
                    device.cleanup()


if __name__ == "__main__":
    unittest.main()
