#!/usr/bin/python3
"""An SMTP server for the tests: listens on a free loopback port, prints "PORT n", then one JSON
line per thing it saw (EHLO, AUTH, a message, QUIT, a connection it never greeted).

Modes:
  auth-login     accepts mail, offers AUTH LOGIN PLAIN
  auth-login-eq  the same, but offers it in the old form "AUTH=LOGIN"
  no-auth        accepts mail, offers no AUTH
  plain-only     accepts mail, offers only AUTH PLAIN
  no-ehlo        refuses EHLO, accepts HELO
  silent         accepts connections and never says a word
  garbage        greets with a line that is no SMTP reply
  auth-refused   offers AUTH LOGIN PLAIN and refuses every login
  drop-at-mail   drops the connection when MAIL FROM comes
  reject-rcpt    refuses every recipient whose address holds "rechazo"
  starttls       offers STARTTLS (certificate and key from --cert and --key) and takes no command
                 but EHLO, NOOP and QUIT before it; AUTH LOGIN PLAIN only once encrypted
"""
import argparse
import warnings
import asyncio
import json
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


def emit(**event):
    sys.stdout.write(json.dumps(event) + "\n")
    sys.stdout.flush()


class Handler:
    def __init__(self, mode):
        self.mode = mode

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        emit(event="ehlo", hostname=hostname)
        if self.mode == "no-ehlo":
            return ["502 5.5.1 EHLO no, HELO si"]
        if self.mode == "auth-login-eq":
            responses = [r.replace("250-AUTH ", "250-AUTH=") for r in responses]
        session.host_name = hostname
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        emit(event="helo", hostname=hostname)
        session.host_name = hostname
        return "250 {}".format(server.hostname)

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        emit(event="mail", address=address)
        if self.mode == "drop-at-mail":
            server.transport.abort()
            return "421 4.3.0 se va"
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        emit(event="rcpt", address=address)
        if self.mode == "reject-rcpt" and "rechazo" in address:
            return "550 5.1.1 buzon inexistente"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        login = None
        if session.auth_data is not None:
            login = session.auth_data.login.decode()
        emit(event="message", mail_from=envelope.mail_from, rcpt_tos=envelope.rcpt_tos,
             data=envelope.original_content.decode("latin-1"), login=login, tls=session.ssl is not None)
        return "250 2.0.0 OK"

    async def handle_QUIT(self, server, session, envelope):
        emit(event="quit")
        return "221 2.0.0 adios"


def authenticator_for(mode):
    def authenticator(server, session, envelope, mechanism, auth_data):
        emit(event="auth", mechanism=mechanism, login=auth_data.login.decode(),
             password=auth_data.password.decode())
        if mode == "auth-refused":
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=auth_data)
    return authenticator


async def main(mode, cert, key):
    loop = asyncio.get_running_loop()
    if mode == "silent":
        async def never_greet(reader, writer):
            emit(event="connect")
            await reader.read()  # until the client gives up
            writer.close()
        server = await asyncio.start_server(never_greet, "127.0.0.1", 0)
    elif mode == "garbage":
        async def greet_with_garbage(reader, writer):
            emit(event="connect")
            writer.write(b"HTTP/1.1 400 Bad Request\r\n")
            await writer.drain()
            async for line in reader:
                if line.strip().upper() == b"QUIT":
                    emit(event="quit")
            writer.close()
        server = await asyncio.start_server(greet_with_garbage, "127.0.0.1", 0)
    else:
        handler = Handler(mode)
        options = {"hostname": "peer.test", "auth_require_tls": mode not in ("auth-login", "auth-login-eq",
                                                                             "plain-only", "auth-refused")}
        if mode == "plain-only":
            options["auth_exclude_mechanism"] = ["LOGIN"]
        if mode == "starttls":
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            options.update(tls_context=context, require_starttls=True, auth_require_tls=True)

        def factory():
            return SMTP(handler, authenticator=authenticator_for(mode), loop=loop, **options)
        server = await loop.create_server(factory, "127.0.0.1", 0)
    emit(event="port", port=server.sockets[0].getsockname()[1])
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    warnings.simplefilter("ignore")  # aiosmtpd warns about its own deprecated names
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="auth-login")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    arguments = parser.parse_args()
    asyncio.run(main(arguments.mode, arguments.cert, arguments.key))
