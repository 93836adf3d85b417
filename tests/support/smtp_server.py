#!/usr/bin/env python3
"""A real SMTP server (aiosmtpd) for the mail delivery tests.

Listens on 127.0.0.1 on a port the system picks and prints "port N" once it
accepts connections. Every mail it accepts is written to the output folder:

  mail-N/envelope.txt   "from: ADDRESS" and one "to: ADDRESS" per recipient
  mail-N/message.eml    the message as received (after dot unstuffing)
  mail-N/parts.txt      one line per MIME part: content type, file name or "-",
                        transfer encoding; then "defects: N" for the whole mail
  mail-N/part-K.bin     the decoded content of part K
  mail-N/headers.txt    the headers as Python's email package reads them back
                        (policy default): "name: value" with encoded words
                        decoded, display names and addresses apart
  auth.txt              one line per AUTH attempt: mechanism, login, outcome

Scripted failures:
  --refuse ADDRESS      answer RCPT TO for that address with 550
  --reject-data         answer the end of the mail data with 554

Security (certificate and key in PEM files the test makes):
  --cert FILE --key FILE  the server's certificate and key
  --starttls            offer STARTTLS; with --require-tls refuse mail before it
  --implicit-tls        speak TLS from the first byte
  --user NAME --password TEXT
                        offer AUTH and require it before MAIL; AUTH is only
                        accepted inside TLS
  --no-plain            offer AUTH LOGIN alone

The server stops when its standard input closes, or after --lifetime seconds.
"""

import argparse
import email
import email.policy
import os
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


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
        self.write_headers(folder, envelope.original_content)
        return "250 Message accepted for delivery"

    @staticmethod
    def header_defects(message):
        defects = []
        for name, value in message.items():
            defects += getattr(value, "defects", [])
        return defects

    @staticmethod
    def write_headers(folder, content):
        message = email.message_from_bytes(content, policy=email.policy.default)
        lines = []
        for name in ("From", "To", "Subject", "Date", "Message-ID"):
            value = message[name]
            if value is None:
                continue
            lines.append("%s: %s" % (name.lower(), str(value)))
            for address in getattr(value, "addresses", ()):
                lines.append("%s-address: %s|%s" % (name.lower(), address.display_name,
                                                    address.addr_spec))
            if name == "Date":
                lines.append("date-utc: %s" % value.datetime.timestamp())
        for index, part in enumerate(message.walk()):
            if part.get_content_maintype() == "text":
                lines.append("text-charset: %s" % part.get_content_charset())
        with open(os.path.join(folder, "headers.txt"), "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")

    @classmethod
    def write_parts(cls, folder, content):
        message = email.message_from_bytes(content, policy=email.policy.default)
        defects = list(message.defects) + cls.header_defects(message)
        lines = []
        parts = list(message.iter_parts()) if message.is_multipart() else [message]
        for index, part in enumerate(parts):
            defects += part.defects + cls.header_defects(part)
            lines.append("%s\t%s\t%s" % (part.get_content_type(),
                                        part.get_filename() or "-",
                                        part.get("Content-Transfer-Encoding", "-")))
            with open(os.path.join(folder, "part-%d.bin" % index), "wb") as out:
                out.write(part.get_payload(decode=True) or b"")
        lines.append("defects: %d" % len(defects))
        with open(os.path.join(folder, "parts.txt"), "w") as out:
            out.write("\n".join(lines) + "\n")


class Authenticator:
    def __init__(self, folder, user, password):
        self.path = os.path.join(folder, "auth.txt")
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        success = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
                   and auth_data.password == self.password)
        login = auth_data.login.decode(errors="replace") if isinstance(auth_data, LoginPassword) else "?"
        with open(self.path, "a") as out:
            out.write("%s %s %s\n" % (mechanism, login, "accepted" if success else "refused"))
        return AuthResult(success=success, handled=False)


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
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--require-tls", action="store_true")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--no-plain", action="store_true")
    arguments = parser.parse_args()

    handler = RecordingHandler(arguments.out, arguments.refuse, arguments.reject_data)
    options = {}
    context = None
    if arguments.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(arguments.cert, arguments.key)
    if arguments.starttls:
        options["tls_context"] = context
        options["require_starttls"] = arguments.require_tls
    if arguments.user:
        options["authenticator"] = Authenticator(arguments.out, arguments.user, arguments.password)
        options["auth_required"] = True
        # Inside implicit TLS the whole connection is encrypted.
        options["auth_require_tls"] = not arguments.implicit_tls
        if arguments.no_plain:
            options["auth_exclude_mechanism"] = ["PLAIN"]
    controller = EphemeralPortController(handler, hostname="127.0.0.1", port=0,
                                         server_hostname="mail.example.com",
                                         ssl_context=context if arguments.implicit_tls else None,
                                         **options)
    controller.start()
    print("port %d" % controller.port, flush=True)

    stopped = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.read(), stopped.set()), daemon=True).start()
    stopped.wait(arguments.lifetime)
    controller.stop()


if __name__ == "__main__":
    main()
