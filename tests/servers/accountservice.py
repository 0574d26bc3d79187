#!/usr/bin/env python3
"""A small account service for tests: the form interface that signs an account in
(/accounts/ClientAuth), issues a token for a service (/accounts/IssueAuthToken), opens a page
with a token (/accounts/TokenAuth) and serves captcha images (/accounts/Captcha).

    accountservice.py --port N --config FILE [--cert PEM --key PEM] [--record FILE]
                      [--tokens FILE]

Over HTTPS when a certificate is given, plain HTTP otherwise. Listens on 127.0.0.1 only.
The config is JSON:

    {"accounts": {"alice@example.net": "secret", ...},
     "captcha": {"carol@example.net": "answer words", ...},   # sign-in needs this answer
     "special": {"broken@example.net": "nosession", ...}}      # canned misbehaviour

Special behaviours: "nosession" (200 without SID/LSID), "garbage" (200 with a body that is no
key=value answer), "unavailable" (403 Error=ServiceUnavailable), "status500", "huge" (a 1 MiB
answer), "manylines" (thousands of lines), "silent" (never answers), "emptytoken" (a session
whose token request answers only white space).

Every request's form is appended to the record file as one JSON line
{"path": ..., "form": {...}}, so a test can check what the client sent. Every issued token
is appended to the tokens file as a line "TOKEN SERVICE EMAIL": the test XMPP server
(tests/servers/prosody/mod_ombrix_token.lua) accepts the mail tokens listed there, and a test
revokes them all by emptying the file.
"""

import argparse
import json
import secrets
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class State:
    def __init__(self, config, record, tokens_file=None):
        self.tokens_file = tokens_file
        self.accounts = config.get("accounts", {})
        self.captcha_answers = config.get("captcha", {})
        self.special = config.get("special", {})
        self.record = record
        self.lock = threading.Lock()
        self.sessions = {}  # SID -> (LSID, email)
        self.tokens = {}  # token -> (service, email)
        self.captchas = {}  # captcha token -> email

    def note(self, path, form):
        if not self.record:
            return
        with self.lock, open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps({"path": path, "form": form}) + "\n")

    def issued(self, token, service, email):
        with self.lock:
            self.tokens[token] = (service, email)
            if self.tokens_file:
                with open(self.tokens_file, "a", encoding="utf-8") as out:
                    out.write("%s %s %s\n" % (token, service, email))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "AccountService/1"

    def setup(self):
        # The TLS handshake runs here, on the connection's own thread, so a client that
        # stalls or refuses our certificate holds up nobody else.
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(10)
            self.request.do_handshake()
            self.request.settimeout(None)
        super().setup()

    def log_message(self, fmt, *args):  # keep the test output quiet
        pass

    def answer(self, status, body, content_type="text/plain", headers=()):
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def read_form(self):
        length = int(self.headers.get("Content-Length", "0"))
        if length > 65536:
            return None
        raw = self.rfile.read(length).decode("ascii", "replace")
        # The last value of a repeated field, as simple services take it.
        return {k: v[-1] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

    def do_POST(self):
        state = self.server.state
        path = urllib.parse.urlsplit(self.path).path
        form = self.read_form()
        if form is None:
            self.answer(413, "Error=Unknown\n")
            return
        state.note(path, form)
        if path == "/accounts/ClientAuth":
            self.client_auth(state, form)
        elif path == "/accounts/IssueAuthToken":
            self.issue_token(state, form)
        else:
            self.answer(404, "Error=Unknown\n")

    def client_auth(self, state, form):
        email = form.get("Email", "")
        special = state.special.get(email)
        if special == "silent":
            time.sleep(30)
            self.close_connection = True
            return
        if special == "nosession":
            self.answer(200, "Auth=only\n")
            return
        if special == "garbage":
            self.answer(200, "<html><body>Welcome</body></html>\n", "text/html")
            return
        if special == "unavailable":
            self.answer(403, "Error=ServiceUnavailable\n")
            return
        if special == "status500":
            self.answer(500, "Error=Unknown\n")
            return
        if special == "huge":
            self.answer(200, "SID=" + "x" * (1 << 20) + "\n")
            return
        if special == "manylines":
            self.answer(200, "".join("K%d=v\n" % i for i in range(5000)))
            return
        if state.accounts.get(email) != form.get("Passwd"):
            self.answer(403, "Error=BadAuthentication\n")
            return
        wanted = state.captcha_answers.get(email)
        if wanted is not None:
            token = form.get("logintoken", "")
            with state.lock:
                issued_for = state.captchas.pop(token, None)
            if issued_for != email or form.get("logincaptcha") != wanted:
                token = secrets.token_urlsafe(12)
                with state.lock:
                    state.captchas[token] = email
                self.answer(403, "Url=https://example.invalid/unlock\n"
                            "Error=CaptchaRequired\n"
                            "CaptchaToken=%s\n"
                            "CaptchaUrl=Captcha?ctoken=%s\n" % (token, token))
                return
        sid = secrets.token_urlsafe(24)
        lsid = secrets.token_urlsafe(24)
        with state.lock:
            state.sessions[sid] = (lsid, email, special)
        self.answer(200, "SID=%s\nLSID=%s\nAuth=%s\n" % (sid, lsid, secrets.token_urlsafe(16)))

    def issue_token(self, state, form):
        with state.lock:
            session = state.sessions.get(form.get("SID", ""))
        if (session is None or session[0] != form.get("LSID") or not form.get("service")
                or form.get("Session") != "true"):
            self.answer(403, "Error=BadAuthentication\n")
            return
        if session[2] == "emptytoken":
            self.answer(200, " \r\n")
            return
        token = secrets.token_urlsafe(32)
        state.issued(token, form["service"], session[1])
        self.answer(200, token + "\n")

    def do_GET(self):
        state = self.server.state
        parts = urllib.parse.urlsplit(self.path)
        query = {k: v[-1] for k, v in urllib.parse.parse_qs(parts.query).items()}
        state.note(parts.path, query)
        if parts.path == "/accounts/TokenAuth":
            with state.lock:
                issued = state.tokens.get(query.get("auth", ""))
            target = query.get("continue", "")
            if issued is None or issued[0] != query.get("service") or not target:
                self.answer(403, "Error=BadAuthentication\n")
                return
            self.answer(302, "", headers=[("Location", target)])
        elif parts.path == "/accounts/Captcha":
            with state.lock:
                known = query.get("ctoken", "") in state.captchas
            if not known:
                self.answer(404, "")
                return
            # A 1x1 PNG is enough to show that the image is served.
            self.answer(200, bytes.fromhex(
                "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                "1f15c4890000000d49444154789c6360000002000100ffff03000006000557bfabd4"
                "0000000049454e44ae426082"), "image/png")
        else:
            self.answer(404, "")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--record")
    parser.add_argument("--tokens")
    args = parser.parse_args()
    with open(args.config, encoding="utf-8") as f:
        config = json.load(f)
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.state = State(config, args.record, args.tokens)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
    # Clients that refuse the certificate or hang up are part of the tests.
    server.handle_error = lambda request, address: None
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
