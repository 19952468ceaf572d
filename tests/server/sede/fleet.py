"""A fleet on loopback for the head office's tests and benchmark: brokers,
emulated panels, site services and the head office itself, each started
and stopped by the test (never one of the machine's)."""
import json, os, socket, subprocess, tempfile, time, urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Fleet:
    def __init__(self, bin_dir):
        self.bin = bin_dir
        self.servidor = os.path.join(bin_dir, "letreiro-servidor")
        self.work = tempfile.mkdtemp(prefix="sede-")
        self.procs = []

    def start(self, args, **kw):
        p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, **kw)
        self.procs.append(p)
        return p

    def broker(self, name, extra=""):
        port = free_port()
        folder = os.path.join(self.work, name)
        os.makedirs(folder, exist_ok=True)
        conf = os.path.join(folder, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\nuser root\n"
                    f"set_tcp_nodelay true\nlog_type error\n{extra}")
        self.start(["/usr/sbin/mosquitto", "-c", conf])
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                return port
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("mosquitto did not start")

    def panel(self, answer="ack", addresses="1,2"):
        p = self.start([os.path.join(self.bin, "letreiro-cli"), "painel", "--tcp", "0",
                        "--endereco", addresses, "--resposta", answer])
        return p.stdout.readline().strip()

    def service(self, name, ini, users=()):
        """users: (name, *access options) each, given a password before the start."""
        folder = os.path.join(self.work, name)
        os.makedirs(folder, exist_ok=True)
        conf = os.path.join(folder, "letreiro.ini")
        with open(conf, "w", encoding="utf-8") as f:
            f.write("[servidor]\nescuta = 127.0.0.1:0\n" + ini)
        for user, *access in users:
            self.admin(conf, user, *access)
        p = self.start([self.servidor, "--config", conf])
        p.conf = conf
        p.url = p.stdout.readline().strip()
        return p

    def site(self, name, broker, lines):
        """lines: {line: (device, {panel: (address, type)})}"""
        ini = ""
        for line, (device, panels) in lines.items():
            ini += f"[linha {line}]\nporta = {device}\n"
            for panel, (address, kind) in panels.items():
                ini += f"[painel {panel}]\nlinha = {line}\nendereco = {address}\ntipo = {kind}\n"
        return self.service(name, ini + f"[mqtt]\nservidor = 127.0.0.1:{broker}\nsitio = {name}\n")

    def admin(self, conf, user, *access):
        subprocess.run([self.servidor, "--config", conf, "--usuario", user], input="segredo-bom\n",
                       text=True, check=True, stdout=subprocess.DEVNULL)
        if access:
            subprocess.run([self.servidor, "--config", conf, "--acesso", user, *access], check=True,
                           stdout=subprocess.DEVNULL)

    def token(self, conf, user):
        return subprocess.run([self.servidor, "--config", conf, "--novo-token", user], text=True,
                              check=True, capture_output=True).stdout.strip()

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()


class Client:
    """A user of a service's API, with its session cookie or a token."""

    def __init__(self, url, user=None, password="segredo-bom", token=None):
        self.url, self.cookie, self.token = url, None, token
        if user:
            status, _, headers = self.call("POST", "/api/entrar", {"usuario": user, "senha": password})
            assert status == 200, status
            self.cookie = headers["Set-Cookie"].split(";")[0]

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.url + path, data=data, method=method)
        if data is not None:
            req.add_header("Content-Type", "application/json")
        if self.cookie:
            req.add_header("Cookie", self.cookie)
        if self.token:
            req.add_header("Authorization", "Bearer " + self.token)
        try:
            with urllib.request.urlopen(req, timeout=30) as r:
                raw, status, headers = r.read(), r.status, r.headers
        except urllib.error.HTTPError as e:
            raw, status, headers = e.read(), e.code, e.headers
        kind = headers.get("Content-Type", "")
        return status, (json.loads(raw) if "json" in kind else raw.decode()), headers

    def get(self, path):
        status, body, _ = self.call("GET", path)
        assert status == 200, (path, status, body)
        return body


def until(what, check, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        got = check()
        if got:
            return got
        time.sleep(0.1)
    raise AssertionError("never happened: " + what)
