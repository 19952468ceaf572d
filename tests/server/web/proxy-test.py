#!/usr/bin/env python3
"""The nginx block of docs/servico.md, run as written in front of the
service: TLS with a throw-away certificate on a port other than 443; a
browser's login and a send go through it, the cookie is Secure and named
__Host-, and the service sees the browser's origin with its port.

    tests/server/web/proxy-test.py BIN_DIR"""

import http.client
import json
import os
import pathlib
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time

TOP = pathlib.Path(__file__).resolve().parents[3]
BIN = pathlib.Path(sys.argv[1])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def nginx_block():
    text = (TOP / "docs" / "servico.md").read_text(encoding="utf-8")
    blocks = re.findall(r"```nginx\n(.*?)```", text, re.S)
    assert len(blocks) == 1, "docs/servico.md should have one nginx block"
    return blocks[0]


def wait_for(port, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            return
        except OSError:
            time.sleep(0.1)
    raise AssertionError(f"nothing listens on {port}")


def main():
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    work = pathlib.Path(tempfile.mkdtemp(prefix="letreiro-proxy-"))
    procs = []
    try:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=painel.loja.example", "-keyout", str(work / "painel.key"),
                        "-out", str(work / "painel.crt")], check=True, capture_output=True)
        https, service, panel = free_port(), free_port(), free_port()
        block = (nginx_block().replace("8443", str(https)).replace("8080", str(service))
                 .replace("/etc/letreiro/", f"{work}/"))
        (work / "nginx.conf").write_text(
            f"daemon off;\npid {work}/nginx.pid;\nerror_log {work}/nginx.log;\n"
            f"events {{}}\nhttp {{\naccess_log off;\nclient_body_temp_path {work}/corpo;\n"
            f"proxy_temp_path {work}/proxy;\n{block}}}\n")
        procs.append(subprocess.Popen([nginx, "-c", str(work / "nginx.conf"), "-p", str(work)]))
        procs.append(subprocess.Popen([str(BIN / "letreiro-cli"), "painel", "--tcp", str(panel),
                                       "--endereco", "1"], stdout=subprocess.DEVNULL))
        (work / "letreiro.ini").write_text(
            f"[servidor]\nescuta = 127.0.0.1:{service}\nnomes = painel.loja.example\n"
            f"proxies = 127.0.0.1\n[linha l]\nporta = tcp://127.0.0.1:{panel}\n"
            f"[painel entrada]\nlinha = l\nendereco = 1\n")
        subprocess.run([str(BIN / "letreiro-servidor"), "--config", str(work / "letreiro.ini"),
                        "--usuario", "ana"], input=b"segredo\n", check=True, capture_output=True)
        log = open(work / "servico.log", "wb")
        procs.append(subprocess.Popen([str(BIN / "letreiro-servidor"), "--config",
                                       str(work / "letreiro.ini")], stdout=log, stderr=log))
        for port in (https, service, panel):
            wait_for(port)
        tls = ssl.create_default_context(cafile=str(work / "painel.crt"))
        tls.check_hostname = False
        origin = f"https://painel.loja.example:{https}"
        page = {"Host": f"painel.loja.example:{https}", "Origin": origin,
                "Sec-Fetch-Site": "same-origin", "Content-Type": "application/json"}

        def ask(method, path, body=None, headers=None):
            c = http.client.HTTPSConnection("127.0.0.1", https, context=tls, timeout=30)
            c.request(method, path, body=json.dumps(body) if body is not None else None,
                      headers=dict(page, **(headers or {})))
            r = c.getresponse()
            return r.status, r.getheader("Set-Cookie") or "", r.read()

        status, cookie, body = ask("POST", "/api/entrar", {"usuario": "ana", "senha": "segredo"})
        assert status == 200, (status, body)
        assert cookie.startswith("__Host-letreiro_sessao=") and "Secure" in cookie, cookie
        session = cookie.split(";")[0]
        status, _, body = ask("POST", "/api/paineis/entrada/texto", {"texto": "pelo proxy"},
                              {"Cookie": session})
        answer = json.loads(body)
        assert status == 200 and answer["resultado"] == "enviado", (status, body)
        # The page itself, with HEAD as a health probe would ask.
        assert ask("HEAD", "/api/saude")[0] == 200
        print("proxy: nginx as documented carries the login and the send")
    finally:
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
