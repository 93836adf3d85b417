#!/usr/bin/env python3
"""A real SMTP server (aiosmtpd) for the mail delivery tests.

Listens on 127.0.0.1 on a port the system picks and prints "port N" once it
accepts connections. Every mail it accepts is written to the output folder:

  mail-N/envelope.txt   "from: ADDRESS" and one "to: ADDRESS" per recipient
  mail-N/message.eml    the message as received (after dot unstuffing)
  mail-N/parts.txt      one line per MIME part: content type, file name or "-",
                        transfer encoding; then "defects: N" for the whole mail
  mail-N/part-K.bin     the decoded content of part K

Scripted failures:
  --refuse ADDRESS      answer RCPT TO for that address with 550
  --reject-data         answer the end of the mail data with 554

The server stops when its standard input closes, or after --lifetime seconds.
"""

import argparse
import email
import email.policy
import os
import sys
import threading

from aiosmtpd.controller import Controller


class RecordingHandler:
    def __init__(self, folder, refused, reject_data):
        self.folder = folder
        self.refused = set(refused)
        self.reject_data = reject_data
        self.count = 0
        self.lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.reject_data:
            return "554 5.6.0 Message refused"
        with self.lock:
            self.count += 1
            folder = os.path.join(self.folder, "mail-%d" % self.count)
        os.makedirs(folder)
        with open(os.path.join(folder, "envelope.txt"), "w") as out:
            out.write("from: %s\n" % envelope.mail_from)
            for address in envelope.rcpt_tos:
                out.write("to: %s\n" % address)
        with open(os.path.join(folder, "message.eml"), "wb") as out:
            out.write(envelope.original_content)
        self.write_parts(folder, envelope.original_content)
        return "250 Message accepted for delivery"

    @staticmethod
    def write_parts(folder, content):
        message = email.message_from_bytes(content, policy=email.policy.default)
        defects = list(message.defects)
        lines = []
        parts = list(message.iter_parts()) if message.is_multipart() else [message]
        for index, part in enumerate(parts):
            defects += part.defects
            lines.append("%s\t%s\t%s" % (part.get_content_type(),
                                        part.get_filename() or "-",
                                        part.get("Content-Transfer-Encoding", "-")))
            with open(os.path.join(folder, "part-%d.bin" % index), "wb") as out:
                out.write(part.get_payload(decode=True) or b"")
        lines.append("defects: %d" % len(defects))
        with open(os.path.join(folder, "parts.txt"), "w") as out:
            out.write("\n".join(lines) + "\n")


class EphemeralPortController(Controller):
    """A controller on a port the system picks, so tests never collide."""

    def _trigger_server(self):
        self.port = self.server.sockets[0].getsockname()[1]
        super()._trigger_server()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--reject-data", action="store_true")
    parser.add_argument("--lifetime", type=float, default=60.0)
    arguments = parser.parse_args()

    handler = RecordingHandler(arguments.out, arguments.refuse, arguments.reject_data)
    controller = EphemeralPortController(handler, hostname="127.0.0.1", port=0,
                                         server_hostname="mail.example.com")
    controller.start()
    print("port %d" % controller.port, flush=True)

    stopped = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.read(), stopped.set()), daemon=True).start()
    stopped.wait(arguments.lifetime)
    controller.stop()


if __name__ == "__main__":
    main()
