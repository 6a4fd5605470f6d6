"""The device's TFTP client: against tftpd-hpa byte for byte, and on the
wire against a recording server, with the ACK faults."""

import hashlib
import struct
import time
import unittest

from world import PC, Device, RecordingTftpServer, Tftpd, http_get, make_image, require_world

QUICK = ("--idle-delay", "0.1", "--restart-delay", "0.5", "--dally", "0.3")


def trigger(name, port=69):
    answer = http_get("/admin/upgrade?tftp://%s:%d%s" % (PC, port, name))
    assert answer.startswith(b"HTTP/1.1 200"), answer[:60]


class AgainstTftpdHpa(unittest.TestCase):
    def setUp(self):
        require_world()

    def fetch(self, files, name, *options, wait=20):
        tftpd = Tftpd(files)
        self.addCleanup(tftpd.cleanup)
        device = Device(*(QUICK + options))
        self.addCleanup(device.cleanup)
        trigger("/" + name)
        state = device.wait_for(lambda s: s["transfers"], wait, "the transfer's end")
        return device, state["transfers"][0]

    def assert_received(self, device, transfer, data):
        self.assertTrue(transfer["complete"], transfer)
        self.assertEqual(transfer["size"], len(data))
        self.assertEqual(transfer["sha256"], hashlib.sha256(data).hexdigest())
        self.assertEqual(transfer["blocks"], len(data) // 512 + 1)
        with open(transfer["saved_as"], "rb") as f:
            self.assertEqual(f.read(), data)

    def test_sizes_are_received_byte_for_byte(self):
        for size in (737532, 1024, 300):
            with self.subTest(size=size):
                data = make_image(size, seed=size)
                try:
                    device, transfer = self.fetch({"qor1a.bi0": data}, "qor1a.bi0")
                    self.assert_received(device, transfer, data)
                    self.assertEqual(transfer["oack"]["tsize"], str(size))
                    self.assertEqual(transfer["version"], "2.0.13(SEg)")
                    self.assertTrue(transfer["accepted"])
                finally:
                    self.doCleanups()

    def test_an_empty_file_is_received_but_rejected(self):
        device, transfer = self.fetch({"empty.bi0": b""}, "empty.bi0")
        self.assertTrue(transfer["complete"])
        self.assertEqual((transfer["size"], transfer["blocks"]), (0, 1))
        self.assertFalse(transfer["accepted"])
        self.assertIn("shorter than its header", transfer["reason"])
        self.assertEqual(device.state()["restarts"], [])

    def test_lost_acks_are_recovered(self):
        data = make_image(20 * 512 + 17)
        device, transfer = self.fetch({"q.bi0": data}, "q.bi0", "--drop-ack", "3",
                                      "--drop-ack", "0", "--drop-ack-fraction", "0.15",
                                      "--seed", "4", wait=60)
        self.assert_received(device, transfer, data)
        self.assertGreaterEqual(transfer["acks_dropped"], 3)
        self.assertIn("ACK 3 dropped (drop-ack)", device.log())

    def test_image_of_another_product_is_rejected(self):
        data = make_image(2000, tag=b"qor7300")
        device, transfer = self.fetch({"q.bi0": data}, "q.bi0", "--accept-tag", "QOR7101")
        self.assertTrue(transfer["complete"])
        self.assertFalse(transfer["accepted"])
        self.assertEqual(transfer["tag"], "qor7300")
        time.sleep(0.3)
        state = device.state()
        self.assertEqual((state["restarts"], state["up"], state["software_version"]),
                         ([], True, "2.0.10"))

    def test_missing_file_fails_without_restart(self):
        device, transfer = self.fetch({}, "nothere.bi0")
        self.assertFalse(transfer["complete"])
        self.assertIn("ERROR 1", transfer["reason"])
        self.assertEqual(device.state()["restarts"], [])
        self.assertTrue(device.state()["up"])


class OnTheWire(unittest.TestCase):
    """What the device sends, as a server in the upgrade program's place sees it."""

    PORT = 6969

    def setUp(self):
        require_world()

    def serve(self, data, *options, oack=True, wait=True):
        server = RecordingTftpServer(data, port=self.PORT, oack=oack)
        self.addCleanup(server.cleanup)
        device = Device(*(QUICK + options))
        self.addCleanup(device.cleanup)
        trigger("/qor7f.bi0", self.PORT)
        if wait:
            state = device.wait_for(lambda s: s["transfers"], 15, "the transfer's end")
            return server, device, state["transfers"][0]
        return server, device, None

    def test_read_request_and_ack_sequence(self):
        data = make_image(3 * 512)  # a multiple of 512: ends with an empty block
        server, device, transfer = self.serve(data)
        rrq = server.received[0][3]
        self.assertEqual(rrq, struct.pack("!H", 1) + b"/qor7f.bi0\0octet\0tsize\0" b"0\0timeout\0" b"1\0")
        self.assertTrue(server.acked_all.is_set())
        self.assertEqual(server.acks(), [(server.rrq_port, n) for n in range(5)])
        self.assertEqual(transfer["blocks"], 4)
        self.assertEqual(transfer["oack_bytes"], 2 + len("tsize\x001536\x00timeout\x005\x00"))
        with open(transfer["saved_as"], "rb") as f:
            self.assertEqual(f.read(), data)

    def test_server_without_options_sends_data_first(self):
        data = make_image(700)
        server, device, transfer = self.serve(data, oack=False)
        self.assertEqual([n for _, n in server.acks()], [1, 2])
        self.assertIsNone(transfer["oack"])
        self.assertTrue(transfer["accepted"])

    def test_duplicate_acks(self):
        server, device, transfer = self.serve(make_image(1000), "--duplicate-acks")
        self.assertEqual([n for _, n in server.acks()], [0, 0, 1, 1, 2, 2])
        self.assertTrue(transfer["accepted"])

    def test_dropped_ack_is_sent_on_the_retransmission(self):
        server, device, transfer = self.serve(make_image(2000), "--drop-ack", "2")
        self.assertEqual([n for _, n in server.acks()], [0, 1, 2, 3, 4])
        self.assertEqual(transfer["duplicate_data"], 1)
        self.assertEqual(transfer["acks_dropped"], 1)

    def test_lost_ack_of_the_oack_is_sent_for_the_repeated_oack(self):
        server, device, transfer = self.serve(make_image(600), "--drop-ack", "0")
        self.assertEqual([n for _, n in server.acks()], [0, 1, 2])
        self.assertIn("tftp: OACK again", device.log())
        self.assertTrue(transfer["accepted"])

    def test_acks_from_another_port_are_ignored_and_the_transfer_dies(self):
        server, device, transfer = self.serve(make_image(2000), "--ack-from-other-port")
        ports = {port for port, _ in server.acks()}
        self.assertEqual(len(ports), 1)
        self.assertNotIn(server.rrq_port, ports)
        self.assertFalse(server.acked_all.is_set())
        self.assertFalse(transfer["complete"])
        self.assertEqual(device.state()["restarts"], [])

    def test_oack_answered_with_error(self):
        server, device, transfer = self.serve(make_image(2000), "--oack-error")
        errors = [(p, n) for p, opcode, n, _ in server.received if opcode == 5]
        self.assertEqual(errors, [(server.rrq_port, 8)])
        self.assertEqual(server.acks(), [])
        self.assertFalse(transfer["complete"])

    def test_never_fetch_sends_nothing(self):
        server, device, _ = self.serve(make_image(2000), "--never-fetch", wait=False)
        device.wait_for(lambda s: s["triggers"], 5, "the trigger")
        time.sleep(1.0)
        self.assertEqual(server.received, [])
        self.assertFalse(device.state()["triggers"][0]["fetched"])


if __name__ == "__main__":
    unittest.main()
