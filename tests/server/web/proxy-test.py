#!/usr/bin/env python3
"""The nginx and Caddy blocks of docs/servico.md, each run as written in
front of the service: TLS with a throw-away certificate on a port other than
443; a browser's login and a send go through it, the cookie is Secure and
named __Host-, and the service sees the browser's origin with its port.

    tests/server/web/proxy-test.py BIN_DIR"""

import http.client, json, os, pathlib, re, shutil, socket, ssl, subprocess, sys, tempfile, time

TOP = pathlib.Path(__file__).resolve().parents[3]
BIN = pathlib.Path(sys.argv[1])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def doc_block(kind):
    text = (TOP / "docs" / "servico.md").read_text(encoding="utf-8")
    blocks = re.findall(r"```" + kind + r"\n(.*?)```", text, re.S)
    assert len(blocks) == 1, f"docs/servico.md should have one {kind} block"
    return blocks[0]


def start_proxy(kind, work, https, service):
    block = (doc_block(kind).replace("8443", str(https)).replace("8080", str(service))
             .replace("/etc/letreiro/", f"{work}/"))
    if kind == "nginx":
        (work / "nginx.conf").write_text(
            f"daemon off;\npid {work}/nginx.pid;\nerror_log {work}/nginx.log;\n"
            f"events {{}}\nhttp {{\naccess_log off;\nclient_body_temp_path {work}/corpo;\n"
            f"proxy_temp_path {work}/proxy;\n{block}}}\n")
        return subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx",
                                 "-c", str(work / "nginx.conf"), "-p", str(work)])
    # Caddy: no admin endpoint and no redirect listener on port 80 here.
    (work / "Caddyfile").write_text("{\n\tadmin off\n\tauto_https disable_redirects\n}\n" + block)
    env = dict(os.environ, XDG_DATA_HOME=str(work / "caddy"), XDG_CONFIG_HOME=str(work / "caddy"))
    return subprocess.Popen([shutil.which("caddy") or "/usr/bin/caddy", "run", "--config",
                             str(work / "Caddyfile"), "--adapter", "caddyfile"], env=env,
                            stdout=subprocess.DEVNULL, stderr=open(work / "caddy.log", "wb"))


def wait_for(port, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            return
        except OSError:
            time.sleep(0.1)
    raise AssertionError(f"nothing listens on {port}")


class ToProxy(http.client.HTTPSConnection):
    """To the proxy on this machine, naming the site as a browser does (SNI):
    Caddy picks its certificate by that name."""

    def connect(self):
        sock = socket.create_connection(("127.0.0.1", self.port), self.timeout)
        self.sock = self._context.wrap_socket(sock, server_hostname="painel.loja.example")


def through(kind, work, service):
    """A login and a send through the proxy, as the page makes them."""
    https = free_port()
    proxy = start_proxy(kind, work, https, service)
    try:
        wait_for(https)
        tls = ssl.create_default_context(cafile=str(work / "painel.crt"))
        tls.check_hostname = False
        page = {"Host": f"painel.loja.example:{https}",
                "Origin": f"https://painel.loja.example:{https}",
                "Sec-Fetch-Site": "same-origin", "Content-Type": "application/json"}

        def ask(method, path, body=None, headers=None):
            c = ToProxy("painel.loja.example", https, context=tls, timeout=30)
            c.request(method, path, body=json.dumps(body) if body is not None else None,
                      headers=dict(page, **(headers or {})))
            r = c.getresponse()
            return r.status, r.getheader("Set-Cookie") or "", r.read()

        status, cookie, body = ask("POST", "/api/entrar", {"usuario": "ana", "senha": "segredo"})
        assert status == 200, (kind, status, body)
        assert cookie.startswith("__Host-letreiro_sessao=") and "Secure" in cookie, (kind, cookie)
        status, _, body = ask("POST", "/api/paineis/entrada/texto", {"texto": f"pelo {kind}"},
                              {"Cookie": cookie.split(";")[0]})
        assert status == 200 and json.loads(body)["resultado"] == "enviado", (kind, status, body)
        assert ask("HEAD", "/api/saude")[0] == 200, kind
        print(f"proxy: {kind} as documented carries the login and the send")
    finally:
        proxy.terminate()
        proxy.wait(10)


work = pathlib.Path(tempfile.mkdtemp(prefix="letreiro-proxy-"))
procs = []
try:
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=painel.loja.example", "-keyout", str(work / "painel.key"),
                    "-out", str(work / "painel.crt")], check=True, capture_output=True)
    service, panel = free_port(), free_port()
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
    for port in (service, panel):
        wait_for(port)
    for kind in ("nginx", "caddy"):
        through(kind, work, service)
finally:
    for p in reversed(procs):
        p.terminate()
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
    shutil.rmtree(work, ignore_errors=True)
